// A manager session of zksnmp.
#include "session.h"

#include <chrono>

#include "brask/ip_addr.h"
#include "snmp/exception.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "value_text.h"

namespace zksnmp {

std::string ReportText(const snmp::Message& report) {
    if (report.VarBinds().empty()) {
        return "Report without bindings";
    }
    std::string oid;
    report.VarBinds().front().Objid().MakeStr(oid);
    struct Known {
        const char* const* oid;
        const char* text;
    };
    static const Known kKnown[] = {
        {&snmp::USM_UNKNOWNUSER, "Unknown user name"},
        {&snmp::USM_WRONGDIGEST, "Authentication failure (incorrect password, community or key)"},
        {&snmp::USM_UNSUPPORTEDLEVEL, "Unsupported security level"},
        {&snmp::USM_DECRYPT, "Decryption error"},
        {&snmp::USM_TIMEWINDOW, "Time synchronisation failed (not in time window)"},
        {&snmp::USM_UNKNOWNENGINE, "Unknown engine ID"},
        {&snmp::SNMP_UNKNOWNHANDLER, "Unknown PDU handler"},
    };
    for (const auto& k : kKnown) {
        if (oid == *k.oid) {
            return k.text;
        }
    }
    return "Report " + oid;
}

std::string ErrorStatusName(int status) {
    static const char* const kNames[] = {
        "noError",
        "tooBig",
        "noSuchName",
        "badValue",
        "readOnly",
        "genErr",
        "noAccess",
        "wrongType",
        "wrongLength",
        "wrongEncoding",
        "wrongValue",
        "noCreation",
        "inconsistentValue",
        "resourceUnavailable",
        "commitFailed",
        "undoFailed",
        "authorizationError",
        "notWritable",
        "inconsistentName",
    };
    if (status >= 0 && status < static_cast<int>(sizeof kNames / sizeof kNames[0])) {
        return kNames[status];
    }
    return "error " + std::to_string(status);
}

ClientSession::ClientSession(const ClientOptions& options, const snmp::OctetString& localEngineId)
    : options_(options), target_(options.addr, options.port) {
    target_.SetVersion(options.version);
    target_.SetCommunity(options.community);
    if (options.version == snmp::SnmpVersionV3) {
        target_.SetSecAttributes(MakeAttributes(options.user));
        target_.SetSecLevel(options.level);
        target_.SetContextName(options.context);
        // A notification sender is the authoritative engine of its traps; a
        // manager learns the agent's engine id unless it was given.
        snmp::OctetString engine = options.engineId;
        if (engine.Empty() && !localEngineId.Empty()) {
            engine = localEngineId;
        }
        if (!engine.Empty()) {
            target_.SetEngineId(engine);
            target_.SetEngineBoots(1);
            if (options.user.auth != snmp::USMAuthNone) {
                target_.CalculateKeys();
            }
        }
    }
    lookup_ = std::make_unique<PeerLookup>(target_);
}

ClientSession::~ClientSession() {
    Close();
}

bool ClientSession::Open(std::string& error) {
    dispatcher_ = snmp::Dispatcher::Create(snmp::TypeClient, 0, 0, snmp::Dispatcher::SockTypeUdp);
    if (dispatcher_ == nullptr) {
        error = "cannot create the dispatcher";
        return false;
    }
    dispatcher_->SetTargetLookup(lookup_.get());
    brask::IpEndpoint local = LocalEndpointFor(options_.addr);
    if (!dispatcher_->AddEndpoint(local, false)) {
        error = "cannot open a local UDP socket";
        return false;
    }
    snmp::StackInterface::Instance()->RegisterWatch(this);
    watching_ = true;
    started_ = dispatcher_->Start();
    return started_;
}

void ClientSession::Close() {
    if (dispatcher_ != nullptr) {
        if (started_) {
            dispatcher_->Stop();
        }
        dispatcher_->Clear();
        delete dispatcher_;
        dispatcher_ = nullptr;
    }
    if (watching_) {
        snmp::StackInterface::Instance()->DeregisterWatch(this);
        watching_ = false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& r : responses_) {
        delete r.second;
    }
    responses_.clear();
}

void ClientSession::OnResponse(snmp::Dispatcher*, snmp::Message* response) {
    std::lock_guard<std::mutex> guard(mutex_);
    const int id = response->RequestId();
    delete responses_[id];
    responses_[id] = response;
    cv_.notify_all();
}

void ClientSession::OnSend(const snmp::Message& msg) {
    if (msg.Type() == snmp::PduV1Trap || msg.Type() == snmp::PduV2Trap) {
        std::lock_guard<std::mutex> guard(mutex_);
        ++trapsSent_;
        cv_.notify_all();
    }
}

void ClientSession::OnExcept(const snmp::Message& msg, const snmp::Exception& e) {
    // Only failures to encode our own traps concern the waiting sender.
    if (msg.Type() == snmp::PduV1Trap || msg.Type() == snmp::PduV2Trap) {
        std::lock_guard<std::mutex> guard(mutex_);
        sendError_ =
            "cannot send the trap (error " + std::to_string(e.Type()) + ": " + e.Descr() + ")";
        cv_.notify_all();
    }
}

std::unique_ptr<snmp::Message> ClientSession::Request(unsigned int pduType,
                                                      const snmp::VarBindList& vbs,
                                                      std::string& error, double* rttMs) {
    const auto start = std::chrono::steady_clock::now();
    const auto perTry = std::chrono::duration<double>(options_.timeout);
    for (int attempt = 0; attempt <= options_.retries; ++attempt) {
        snmp::Target peer = lookup_->Current();
        auto* msg = new snmp::Message();
        msg->SetTarget(peer);
        msg->SetType(pduType);
        msg->VarBinds() = vbs;
        if (pduType == snmp::PduGetBulkRequest) {
            msg->SetNonReps(options_.nonRepeaters);
            msg->SetMaxReps(options_.maxRepetitions);
        }
        const bool discover = options_.version == snmp::SnmpVersionV3 && peer.EngineId().Empty();
        int id = 0;
        if (!dispatcher_->SendRequest(msg, id, discover, this)) {
            delete msg;
            error = "cannot queue the request";
            return nullptr;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        const bool answered = cv_.wait_for(lock, perTry, [&] { return responses_.count(id) != 0; });
        if (!answered) {
            lock.unlock();
            // The dispatcher keeps no timers: end this attempt ourselves; a
            // late answer then finds no record and is dropped.
            dispatcher_->Cancel(id, true);
            continue;
        }
        std::unique_ptr<snmp::Message> response(responses_[id]);
        responses_.erase(id);
        lock.unlock();
        if (rttMs != nullptr) {
            *rttMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
        }
        if (response->Type() == snmp::PduReport) {
            error = ReportText(*response);
            return nullptr;
        }
        return response;
    }
    error = "Timeout: No Response from " + options_.host;
    return nullptr;
}

bool ClientSession::SendTrap(std::unique_ptr<snmp::Message> trap, std::string& error) {
    snmp::Target peer = lookup_->Current();
    trap->SetTarget(peer);
    if (options_.version == snmp::SnmpVersionV3) {
        trap->InitSecurity(lookup_.get());
    }
    unsigned int before = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        before = trapsSent_;
        sendError_.clear();
    }
    // Another dispatcher's destruction empties the observer list: make sure
    // this session still sees its own sends.
    snmp::StackInterface::Instance()->RegisterWatch(this);
    snmp::Message* raw = trap.release();
    if (!dispatcher_->Enqueue(raw)) {
        delete raw;
        error = "cannot queue the trap";
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    const bool done = cv_.wait_for(lock, std::chrono::seconds(10),
                                   [&] { return trapsSent_ != before || !sendError_.empty(); });
    if (!sendError_.empty()) {
        error = sendError_;
        return false;
    }
    if (!done) {
        error = "the trap was not sent";
        return false;
    }
    return true;
}

}  // namespace zksnmp
