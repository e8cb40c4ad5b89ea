// The agent and the notification receiver of zksnmp.
#include "server.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "brask/ip_addr.h"
#include "options.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "value_text.h"

namespace zksnmp {
namespace {

std::string PduName(unsigned int type) {
    switch (type) {
        case snmp::PduGetRequest:
            return "Get";
        case snmp::PduGetNextRequest:
            return "GetNext";
        case snmp::PduResponse:
            return "Response";
        case snmp::PduSetRequest:
            return "Set";
        case snmp::PduV1Trap:
            return "SNMPv1-Trap";
        case snmp::PduGetBulkRequest:
            return "GetBulk";
        case snmp::PduInformRequest:
            return "Inform";
        case snmp::PduV2Trap:
            return "SNMPv2-Trap";
        case snmp::PduReport:
            return "Report";
        default:
            return "PDU " + std::to_string(type);
    }
}

std::string VersionName(snmp::SnmpVersion v) {
    return v == snmp::SnmpVersionV1 ? "1" : v == snmp::SnmpVersionV2c ? "2c" : "3";
}

// Waits for SIGINT or SIGTERM, which the caller has blocked.
void WaitForSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int sig = 0;
    sigwait(&set, &sig);
}

void BlockSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

const char kServerHelp[] =
    "  --listen ADDR:PORT           local endpoint (default 127.0.0.1:%s; port 0 picks a free "
    "one;\n"
    "                               IPv6 as [::1]:PORT or udp6:[::1]:PORT)\n"
    "  --community C                read-only community (repeatable)\n"
    "  --rw-community C             read-write community (repeatable)\n"
    "  --user NAME[:AUTH:PASS[:PRIV:PASS]]   SNMPv3 user (repeatable), e.g. "
    "bob:SHA:secret1:DES:secret2\n"
    "                               (read-only on the agent)\n"
    "  --engine-id HEX              local engine id (default: random)\n"
    "  --json                       JSON output\n";

}  // namespace

bool ParseServerArgs(const std::vector<std::string>& args, bool agent, ServerOptions& out,
                     std::string& error) {
    ServerOptions o;
    // The principal that --view and --level refer to: a community, or the
    // last of `users` when lastIsUser.
    std::string lastCommunity;
    bool lastIsUser = false;
    o.port = agent ? 161 : 162;
    o.listen = "127.0.0.1:" + std::to_string(o.port);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            error = "help";
            return false;
        }
        if (a == "--json") {
            o.json = true;
            continue;
        }
        const bool known = a == "--listen" || a == "--community" || a == "--rw-community" ||
                           a == "--user" || a == "--engine-id" ||
                           (agent && (a == "--mib" || a == "--rows" || a == "--rw-user" ||
                                      a == "--view" || a == "--level"));
        if (!known) {
            error = "unknown option '" + a + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = "option " + a + " needs a value";
            return false;
        }
        const std::string& v = args[++i];
        if (a == "--listen") {
            // Port 0 is allowed here: the system picks one and it is printed.
            if (!ParseAgentAddress(v, o.port, o.addr, o.port, error, true)) {
                return false;
            }
            o.listen = v;
        } else if (a == "--community" || a == "--rw-community") {
            (a == "--community" ? o.roCommunities : o.rwCommunities).push_back(v);
            lastCommunity = v;
            lastIsUser = false;
        } else if (a == "--user" || a == "--rw-user") {
            UserSpec u;
            if (!ParseUserSpec(v, u, error)) {
                return false;
            }
            if (a == "--rw-user") {
                o.rwUsers.insert(u.name);
            }
            o.users.push_back(u);
            lastIsUser = true;
            lastCommunity.clear();
        } else if (a == "--view") {
            snmp::ObjectId root;
            if (!root.Set(v) || root.Empty()) {
                error = "bad view '" + v + "' (an OID such as 1.3.6.1.2.1.1)";
                return false;
            }
            if (lastIsUser) {
                o.userViews[o.users.back().name].Add(root);
            } else if (!lastCommunity.empty()) {
                o.communityViews[lastCommunity].Add(root);
            } else {
                error =
                    "--view must follow the --community, --rw-community, --user or --rw-user "
                    "it restricts";
                return false;
            }
        } else if (a == "--level") {
            snmp::v3SecurityLevel level = snmp::SecLevelNoAuthNoPriv;
            if (!snmp::ParseSecLevel(v, level)) {
                error = "bad level '" + v + "' (noAuthNoPriv, authNoPriv or authPriv)";
                return false;
            }
            if (!lastIsUser) {
                error = "--level must follow the --user or --rw-user it applies to";
                return false;
            }
            const UserSpec& user = o.users.back();
            if (level > LevelOf(user)) {
                error = "user " + user.name + " has no " +
                        (level == snmp::SecLevelAuthPriv ? "privacy" : "authentication") +
                        " password for level " + v;
                return false;
            }
            o.minLevels[user.name] = level;
        } else if (a == "--engine-id") {
            if (!ParseHex(v, o.engineId) || o.engineId.Size() < 5 || o.engineId.Size() > 32) {
                error = "bad engine id '" + v + "' (5 to 32 octets in hex)";
                return false;
            }
        } else if (a == "--mib") {
            o.mibFile = v;
        } else {
            unsigned long long n = 0;
            if (!ParseUnsigned(v, 100000, n)) {
                error = "bad row count '" + v + "' (0 to 100000)";
                return false;
            }
            o.rows = static_cast<unsigned int>(n);
        }
    }
    if (agent && o.roCommunities.empty() && o.rwCommunities.empty()) {
        o.roCommunities.push_back("public");
        o.rwCommunities.push_back("private");
    }
    out = o;
    return true;
}

ServerBase::ServerBase(const ServerOptions& options) : options_(options) {
    engineId_ = options.engineId.Empty() ? NewEngineId() : options.engineId;
    lookup_ =
        std::make_unique<LocalUserLookup>(engineId_, 1, &ServerBase::EngineTime, options.users);
}

ServerBase::~ServerBase() {
    Stop();
    delete dispatcher_;
}

unsigned int ServerBase::EngineTime() {
    return snmp::UpTime() / 100;
}

bool ServerBase::Start(std::string& error) {
    dispatcher_ = snmp::Dispatcher::Create(snmp::TypeServer, 0, 0, snmp::Dispatcher::SockTypeUdp);
    if (dispatcher_ == nullptr) {
        error = "cannot create the dispatcher";
        return false;
    }
    dispatcher_->SetTargetLookup(lookup_.get());
    dispatcher_->SetServerRequestor(this);
    brask::IpEndpoint local(options_.addr, options_.port);
    if (!dispatcher_->AddEndpoint(local, false)) {
        error = "cannot listen on " + options_.listen;
        return false;
    }
    port_ = local.Port();
    started_ = dispatcher_->Start();
    return started_;
}

void ServerBase::Stop() {
    if (dispatcher_ != nullptr && started_) {
        dispatcher_->Stop();
        started_ = false;
    }
}

int ServerBase::CommunityAccess(const std::string& community) const {
    for (const auto& c : options_.rwCommunities) {
        if (c == community) {
            return 2;
        }
    }
    for (const auto& c : options_.roCommunities) {
        if (c == community) {
            return 1;
        }
    }
    return anyCommunity_ ? 1 : 0;
}

void ServerBase::Answer(snmp::Dispatcher* dispatcher, snmp::Message* answer) {
    if (!dispatcher->HandleResponse(answer)) {
        delete answer;
    }
}

snmp::Message* ServerBase::ResponseTo(snmp::Message& request, snmp::VarBindList vbs,
                                      int errorStatus, int errorIndex) {
    snmp::VarBindList asked;
    asked.swap(request.VarBinds());
    auto* response = new snmp::Message(request);
    request.VarBinds().swap(asked);
    response->SwapAddrs();
    response->SetType(snmp::PduResponse);
    response->SetReportable(false);
    response->VarBinds() = std::move(vbs);
    response->SetError(errorStatus, errorIndex);
    return response;
}

AgentServer::AgentServer(const ServerOptions& options) : ServerBase(options) {
    mib_.AddSystemGroup("zksnmp agent (libZorKalSnmp)", "zksnmp", [] { return snmp::UpTime(); });
    mib_.AddStatistics(EngineId(), 1, &ServerBase::EngineTime);
    mib_.AddTable(options.rows);
}

bool AgentServer::Load(std::string& error) {
    if (options_.mibFile.empty()) {
        return true;
    }
    std::ifstream in(options_.mibFile);
    if (!in) {
        error = "cannot read " + options_.mibFile;
        return false;
    }
    std::string why;
    if (!mib_.LoadDump(in, why)) {
        error = options_.mibFile + ": " + why;
        return false;
    }
    return true;
}

snmp::v3SecurityLevel AgentServer::MinLevel(const std::string& user) const {
    auto level = options_.minLevels.find(user);
    if (level != options_.minLevels.end()) {
        return level->second;
    }
    // The last spec of a name is the one the user lookup keeps.
    snmp::v3SecurityLevel lowest = snmp::SecLevelAuthPriv;
    for (const UserSpec& u : options_.users) {
        if (u.name == user) {
            lowest = LevelOf(u);
        }
    }
    return lowest;
}

void AgentServer::OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) {
    std::unique_ptr<snmp::Message> request(msg);
    const int id = request->RequestId();
    const snmp::SnmpVersion version = request->Version();
    bool mayWrite = false;
    const MibView* view = &all_;
    if (version == snmp::SnmpVersionV3) {
        // The security processing has already refused a level the user's
        // keys cannot give (unsupportedSecLevel); a level they can give but
        // below the user's minimum is the access control's refusal.
        const std::string& user = request->UserName();
        if (request->SecurityLevel() < MinLevel(user)) {
            Answer(dispatcher, ResponseTo(*request, request->VarBinds(), kAuthorizationError, 0));
            return;
        }
        mayWrite = options_.rwUsers.count(user) != 0;
        auto v = options_.userViews.find(user);
        if (v != options_.userViews.end()) {
            view = &v->second;
        }
    } else {
        const int access = CommunityAccess(request->Community());
        if (access == 0) {
            // The library counts only communities it cannot parse; which
            // communities are known is the agent's business, so it counts these.
            snmp::SnmpStats::Instance()->OnExcept(*request,
                                                  snmp::Exception(9, "unknown community"));
            dispatcher->Cancel(id, true);
            return;
        }
        mayWrite = access == 2;
        auto v = options_.communityViews.find(request->Community());
        if (v != options_.communityViews.end()) {
            view = &v->second;
        }
    }
    const unsigned int type = request->Type();
    // SNMPv1 has no InformRequest: one in an SNMPv1 message is dropped like
    // any other PDU the agent does not serve.
    if (type == snmp::PduInformRequest && version != snmp::SnmpVersionV1) {
        Answer(dispatcher, ResponseTo(*request, request->VarBinds(), 0, 0));
        return;
    }
    const bool isRequest = type == snmp::PduGetRequest || type == snmp::PduGetNextRequest ||
                           type == snmp::PduSetRequest ||
                           (type == snmp::PduGetBulkRequest && version != snmp::SnmpVersionV1);
    if (!isRequest) {
        dispatcher->Cancel(id, true);
        return;
    }
    // Leave the message and security headers their room: up to about 100
    // octets for SNMPv3 with privacy, a few for a community message.
    const unsigned int headers = version == snmp::SnmpVersionV3 ? 110 : 20;
    unsigned int room = snmp::Message::_maxvbenc > headers ? snmp::Message::_maxvbenc - headers : 0;
    if (version == snmp::SnmpVersionV3 && request->MsgMaxSize() > 0 &&
        static_cast<unsigned int>(request->MsgMaxSize()) < snmp::Message::MaxMessageSize()) {
        const unsigned int limit = static_cast<unsigned int>(request->MsgMaxSize());
        room = limit > 250 ? limit - 250 : 0;
    }
    MibAnswer answer = mib_.Process(version, type, request->VarBinds(), request->NonReps(),
                                    request->MaxReps(), mayWrite, room, *view);
    Answer(dispatcher,
           ResponseTo(*request, std::move(answer.vbs), answer.errorStatus, answer.errorIndex));
}

NotificationListener::NotificationListener(const ServerOptions& options,
                                           std::function<void(const std::string&)> sink)
    : ServerBase(options), sink_(std::move(sink)) {
    anyCommunity_ = options.roCommunities.empty() && options.rwCommunities.empty();
}

void NotificationListener::OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) {
    std::unique_ptr<snmp::Message> notification(msg);
    const int id = notification->RequestId();
    const unsigned int type = notification->Type();
    const bool inform =
        type == snmp::PduInformRequest && notification->Version() != snmp::SnmpVersionV1;
    const bool accepted = (type == snmp::PduV1Trap || type == snmp::PduV2Trap || inform) &&
                          (notification->Version() == snmp::SnmpVersionV3 ||
                           CommunityAccess(notification->Community()) != 0);
    if (!accepted) {
        dispatcher->Cancel(id, true);
        return;
    }
    sink_(DescribeNotification(*notification, options_.json));
    if (type == snmp::PduInformRequest) {
        Answer(dispatcher, ResponseTo(*notification, notification->VarBinds(), 0, 0));
    } else {
        dispatcher->Cancel(id, true);
    }
}

std::string DescribeNotification(const snmp::Message& msg, bool json) {
    // IPv6 sources print in brackets: "[::1]:40000".
    const std::string source = brask::IpEndpoint(msg.SrcAddr(), msg.SrcPort()).ToString();
    const bool v3 = msg.Version() == snmp::SnmpVersionV3;
    const bool v1trap = msg.Type() == snmp::PduV1Trap;
    if (json) {
        std::string out = "{\"source\":" + JsonString(source) +
                          ",\"version\":" + JsonString(VersionName(msg.Version())) +
                          (v3 ? ",\"user\":" + JsonString(msg.UserName()) + ",\"level\":" +
                                    JsonString(snmp::TranslateSecLevel(msg.SecurityLevel()))
                              : ",\"community\":" + JsonString(msg.Community())) +
                          ",\"pdu\":" + JsonString(PduName(msg.Type()));
        if (v1trap) {
            out += ",\"enterprise\":" + JsonString(OidText(msg.Enterprise())) +
                   ",\"agent-addr\":" + JsonString(msg.AgentAddr().ToString()) +
                   ",\"generic\":" + std::to_string(msg.GenType()) +
                   ",\"specific\":" + std::to_string(msg.SpecType()) +
                   ",\"timestamp\":" + std::to_string(msg.Stamp());
        }
        out += ",\"bindings\":[";
        bool first = true;
        for (const auto& vb : msg.VarBinds()) {
            out += (first ? "" : ",") + JsonBinding(vb);
            first = false;
        }
        return out + "]}";
    }
    std::string out =
        "NOTIFICATION " + PduName(msg.Type()) + " from " + source + " SNMPv" +
        VersionName(msg.Version()) +
        (v3 ? " user " + msg.UserName() + " " + snmp::TranslateSecLevel(msg.SecurityLevel())
            : " community " + msg.Community());
    if (v1trap) {
        out += " enterprise " + OidText(msg.Enterprise()) + " agent-addr " +
               msg.AgentAddr().ToString() + " generic " + std::to_string(msg.GenType()) +
               " specific " + std::to_string(msg.SpecType()) + " timestamp " +
               std::to_string(msg.Stamp());
    }
    for (const auto& vb : msg.VarBinds()) {
        out += "\n  " + FormatBinding(vb);
    }
    return out;
}

namespace {

int RunServer(const std::vector<std::string>& args, bool agent) {
    ServerOptions options;
    std::string error;
    if (!ParseServerArgs(args, agent, options, error)) {
        if (error == "help") {
            std::printf("usage: zksnmp %s [options]\n", agent ? "agent" : "listen");
            std::printf(kServerHelp, agent ? "161" : "162");
            if (agent) {
                std::printf(
                    "  --mib FILE                   serve the instances of an `OID TYPE VALUE` "
                    "file\n"
                    "  --rows N                     rows of the generated table (default 10)\n"
                    "  --rw-user NAME[:AUTH:PASS[:PRIV:PASS]]   SNMPv3 user that may also set\n"
                    "  --view OID                   limits the community or user before it to "
                    "this\n"
                    "                               subtree (repeatable: their union)\n"
                    "  --level LEVEL                lowest level for the user before it "
                    "(default: the\n"
                    "                               level its passwords allow)\n");
            }
            return 0;
        }
        std::fprintf(stderr, "zksnmp %s: %s\n", agent ? "agent" : "listen", error.c_str());
        return 1;
    }
    BlockSignals();
    std::mutex printLock;
    std::unique_ptr<ServerBase> server;
    if (agent) {
        auto a = std::make_unique<AgentServer>(options);
        if (!a->Load(error)) {
            std::fprintf(stderr, "zksnmp agent: %s\n", error.c_str());
            return 1;
        }
        server = std::move(a);
    } else {
        server =
            std::make_unique<NotificationListener>(options, [&printLock](const std::string& text) {
                std::lock_guard<std::mutex> guard(printLock);
                std::cout << text << std::endl;
            });
    }
    if (!server->Start(error)) {
        std::fprintf(stderr, "zksnmp %s: %s\n", agent ? "agent" : "listen", error.c_str());
        return 1;
    }
    {
        std::lock_guard<std::mutex> guard(printLock);
        std::cout << (agent ? "agent" : "listener") << " on "
                  << brask::IpEndpoint(options.addr, server->Port()).ToString() << " engine-id "
                  << HexText(server->EngineId(), false) << std::endl;
    }
    WaitForSignal();
    server->Stop();
    return 0;
}

}  // namespace

int RunAgent(const std::vector<std::string>& args) {
    return RunServer(args, true);
}

int RunListen(const std::vector<std::string>& args) {
    return RunServer(args, false);
}

}  // namespace zksnmp
