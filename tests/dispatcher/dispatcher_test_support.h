// Helpers of the dispatcher and session tests: message builders, an SNMPv3 user table, a
// counted message, a response collector and an agent that answers, holds or records.
#ifndef TESTS_DISPATCHER_DISPATCHER_TEST_SUPPORT_H
#define TESTS_DISPATCHER_DISPATCHER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brask/ip_addr.h"
#include "snmp/dispatcher.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "test_util.h"

namespace snmp {
namespace dispatcher_test {

// The result of `f`, run holding `m`.
template <typename F>
decltype(auto) Locked(std::mutex& m, F f) {
    std::lock_guard<std::mutex> guard(m);
    return f();
}

// Waits (generously) until `done` holds; false if it never does.
inline bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

using zktest::Oid;

inline AsnValue Int(int v) {
    AsnValue value(0x02);
    value.SetInteger(v);
    return value;
}

inline std::string Text(const ObjectId& oid) {
    std::string s;
    oid.MakeStr(s);
    return s;
}

// "name=value ..." of a message's bindings; values other than strings,
// integers and object identifiers show their type.
inline std::string Bindings(const Message& m) {
    std::string out;
    for (const VarBind& vb : m.VarBinds()) {
        const AsnValue& v = vb.Value();
        out += (out.empty() ? "" : " ") + Text(vb.Objid()) + "=";
        out += v.Type() == 0x04   ? std::string(reinterpret_cast<const char*>(v.String().Data()),
                                                v.String().Size())
               : v.Type() == 0x02 ? std::to_string(v.Integer())
               : v.Type() == 0x06 ? Text(v.Objid())
                                  : "type " + std::to_string(v.Type());
    }
    return out;
}

// A request to 127.0.0.1:`port` with community "public" and NULL-valued
// bindings for `names`.
inline Message* NewRequest(SnmpVersion version, unsigned int type, unsigned short port,
                           const std::vector<std::string>& names, int requestId = 0) {
    auto* m = new Message();
    m->SetVersion(version);
    m->SetType(type);
    m->SetRequestId(requestId);
    m->SetDstAddr(brask::IpAddr("127.0.0.1"));
    m->SetDstPort(port);
    m->SetCommunity("public");
    for (const std::string& name : names) m->AddVarBind(VarBind(Oid(name), AsnValue()));
    return m;
}

inline OctetString ServerEngineId() {
    static const unsigned char id[] = {0x80, 0x00, 0x1f, 0x88, 0x04, 'z', 'k', 'd', 'i', 's', 'p'};
    return OctetString(id, sizeof(id));
}

// A user table, one target per user. The agent's is the authoritative
// engine: its targets carry its engine id, `boots` and current time, and
// Reports to users it does not know go out through an unauthenticated
// engine-only target. The manager's learns the engine through UpdateTarget.
class Users : public TargetLookup {
public:
    explicit Users(Type side) : TargetLookup(side), started_(snmp::TimeStamp()) {
        stranger_.SetVersion(SnmpVersionV3);
        Stamp(stranger_);
    }

    void Add(const std::string& name, USMAuthProtocol auth, USMPrivProtocol priv,
             const std::string& authPass, const std::string& privPass = "") {
        auto* target = new Target(brask::IpAddr("127.0.0.1"), 161);
        target->SetVersion(SnmpVersionV3);
        auto* attributes = new USMAttributes(auth, priv);
        attributes->SetUserName(name);
        EXPECT_TRUE(auth == USMAuthNone || attributes->SetAuthPass(authPass));
        EXPECT_TRUE(priv == USMPrivNone || attributes->SetPrivPass(privPass));
        target->SetSecAttributes(attributes);
        target->SetSecLevel(priv != USMPrivNone   ? SecLevelAuthPriv
                            : auth != USMAuthNone ? SecLevelAuthNoPriv
                                                  : SecLevelNoAuthNoPriv);
        if (GetType() == TypeServer) {
            Stamp(*target);
            EXPECT_TRUE(auth == USMAuthNone || target->CalculateKeys());
        }
        Lock();
        users_[name].reset(target);
        Unlock();
    }
    Target Stored(const std::string& user) {
        Lock();
        Target copy(*users_.at(user));
        Unlock();
        return copy;
    }
    Target* FindTarget(const Message& msg) override {
        auto it = users_.find(msg.UserName());
        Target* found = it != users_.end() ? it->second.get() : nullptr;
        if (GetType() == TypeClient) return found;
        if (found == nullptr && msg.Type() == PduReport) {
            stranger_.SetUserName(msg.UserName());  // for the manager to match the Report
            found = &stranger_;
        }
        if (found != nullptr) Stamp(*found);
        return found;
    }
    std::atomic<unsigned int> boots{1};

    void UpdateTarget(Target* target, const Message& msg) override {
        Lock();
        auto it = users_.find(msg.UserName());
        if (GetType() == TypeClient && it != users_.end()) *it->second = *target;
        Unlock();
    }

private:
    void Stamp(Target& t) {
        t.SetEngineId(ServerEngineId());
        t.SetEngineBoots(boots.load());
        t.SetEngineTime(EngineTime());
    }
    unsigned int EngineTime() const { return 1000 + (snmp::TimeStamp() - started_); }

    const unsigned int started_;
    std::map<std::string, std::unique_ptr<Target>> users_;
    Target stranger_;
};

// Counts its live instances, to see what the dispatcher deletes and keeps.
class TrackedMessage : public Message {
public:
    TrackedMessage(int* live, SnmpVersion version, unsigned int type, int requestId) : live_(live) {
        ++*live_;
        SetVersion(version);
        SetType(type);
        SetRequestId(requestId);
    }
    ~TrackedMessage() override { --*live_; }

private:
    int* live_;
};

// Collects responses from any thread.
class Collector : public Requestor {
public:
    void OnResponse(Dispatcher*, Message* response) override {
        Locked(mutex_, [&] { responses_.emplace_back(response); });
    }
    size_t Count() {
        return Locked(mutex_, [&] { return responses_.size(); });
    }
    bool WaitFor(size_t n) {
        return Eventually([&] { return Count() >= n; });
    }
    // The collector keeps owning the message.
    Message& At(size_t i) {
        return Locked(mutex_, [&]() -> Message& { return *responses_.at(i); });
    }
    std::vector<int> Ids() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<int> ids;
        for (const auto& m : responses_) ids.push_back(m->RequestId());
        return ids;
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Message>> responses_;
};

// Records notifications (traps, responses, reports) and cancels their
// records. Answers requests from inside OnRequest; or never while `silent` is
// set (their records are cancelled); or holds them while `hold` is set, for
// the test to answer later with Answer. Fill takes the answer from `mib`.
class Agent : public ServerRequestor {
public:
    std::atomic<bool> silent{false};
    // Faults of the answers: `maxBindings` answers tooBig when more bindings
    // would go back; `loop` makes GetNext give back the name it was asked for.
    std::atomic<bool> loop{false};
    std::atomic<size_t> maxBindings{0};
    std::map<ObjectId, AsnValue> mib;

    Agent() { FillSystemGroup(); }
    virtual ~Agent() {
        for (auto& entry : held_) delete entry.second;
        for (Message* m : notifications_) delete m;
    }

    void OnRequest(Dispatcher* dispatcher, Message* msg) override {
        std::unique_lock<std::mutex> guard(mutex_);
        ++seen_[msg->RequestId()];
        ++seenAll_;
        const unsigned int type = msg->Type();
        if (type == PduV1Trap || type == PduV2Trap || type == PduResponse || type == PduReport) {
            notifications_.push_back(msg);
            guard.unlock();
            delete dispatcher->Cancel(msg->RequestId(), true);
            return;
        }
        maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
        if (silent.load()) {
            --inFlight_;
            guard.unlock();
            delete dispatcher->Cancel(msg->RequestId(), true);
            delete msg;
        } else if (hold_) {
            held_[msg->RequestId()] = msg;
        } else {
            guard.unlock();
            Answer(dispatcher, msg);
        }
    }

    // Answers `request` (and deletes it).
    void Answer(Dispatcher* dispatcher, Message* request) {
        auto* answer = new Message(*request);
        answer->SwapAddrs();
        answer->SetType(PduResponse);
        answer->SetReportable(false);
        answer->ClearVarBinds();
        Fill(*request, *answer);
        Locked(mutex_, [&] { return --inFlight_; });
        if (!dispatcher->HandleResponse(answer)) delete answer;
        delete request;
    }

    void SetHold(bool hold) {
        Locked(mutex_, [&] { hold_ = hold; });
    }
    size_t HeldCount() {
        return Locked(mutex_, [&] { return held_.size(); });
    }
    // Gives a held request back to the caller: the one with `id`, or with -1
    // the lowest (nullptr when none is held).
    Message* TakeHeld(int id) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (id == -1 && held_.empty()) return nullptr;
        const int key = id == -1 ? held_.begin()->first : id;
        Message* m = held_.at(key);  // throws for an id not held
        held_.erase(key);
        return m;
    }
    // The agent keeps owning the messages.
    std::vector<Message*> Notifications() {
        return Locked(mutex_, [&] { return notifications_; });
    }
    // How often request `id` came in, or with -1 all requests together.
    int Seen(int id) {
        return Locked(mutex_, [&] { return id != -1 ? seen_[id] : seenAll_; });
    }
    // The most requests held or being answered at one time.
    int MaxInFlight() {
        return Locked(mutex_, [&] { return maxInFlight_; });
    }
    // .1.3.6.1.2.1.1.1 to .8, each with a .0 instance valued by its arc: the
    // MIB an agent starts with.
    void FillSystemGroup() {
        for (int i = 1; i <= 8; ++i) mib[Oid("1.3.6.1.2.1.1." + std::to_string(i) + ".0")] = Int(i);
    }

private:
    // From `mib`: Set and Inform echo their bindings; a name past the MIB's end
    // gives endOfMibView (noSuchName in SNMPv1), a missing one noSuchInstance.
    void Fill(const Message& request, Message& answer) {
        const unsigned int type = request.Type();
        const bool echo = type == PduSetRequest || type == PduInformRequest;
        const int reps = echo ? 0 : type == PduGetBulkRequest ? request.MaxReps() : 1;
        if (echo) answer.VarBinds() = request.VarBinds();
        std::vector<ObjectId> cursors;
        for (const VarBind& vb : request.VarBinds()) cursors.push_back(vb.Objid());
        for (int r = 0; r < reps && answer.ErrStat() == 0; ++r) {
            for (size_t i = 0; i < cursors.size() && answer.ErrStat() == 0; ++i) {
                ObjectId& cursor = cursors[i];
                const auto it = type == PduGetRequest ? mib.find(cursor)
                                : loop.load()         ? mib.lower_bound(cursor)
                                                      : mib.upper_bound(cursor);
                if (it != mib.end()) {
                    answer.AddVarBind(VarBind(it->first, it->second));
                    cursor = it->first;
                } else if (type != PduGetRequest && request.Version() == SnmpVersionV1) {
                    answer.SetError(2, static_cast<int>(i) + 1);
                } else {
                    const unsigned int exception = type == PduGetRequest ? 0x81 : 0x82;
                    answer.AddVarBind(VarBind(cursor, AsnValue(exception)));
                }
            }
        }
        const size_t limit = maxBindings.load();
        if (answer.ErrStat() != 0 || (limit != 0 && answer.VarBinds().size() > limit)) {
            if (answer.ErrStat() == 0) answer.SetError(1, 0);
            answer.VarBinds() = request.VarBinds();
        }
    }

    std::mutex mutex_;
    bool hold_ = false;
    std::map<int, Message*> held_;
    std::vector<Message*> notifications_;
    std::map<int, int> seen_;
    int seenAll_ = 0;
    int inFlight_ = 0;
    int maxInFlight_ = 0;
};

}  // namespace dispatcher_test
}  // namespace snmp

#endif
