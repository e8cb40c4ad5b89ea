// The manager session: operations split into request exchanges, each with
// its time-out, retries and window slot, driven by the dispatcher's answers
// and by one timer thread.
#include "snmp/session.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

#include "snmp/dispatcher.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/security/usm_priv.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/target_lookup.h"
#include "snmp/watch.h"

namespace snmp {

namespace {

using Clock = std::chrono::steady_clock;

// Set while a session runs a host callback on this thread: a blocking call
// made from there would wait for the very thread that has to answer it.
thread_local int callbackDepth = 0;

constexpr int kTooBig = 1;
constexpr int kNoSuchName = 2;

// usmUserEntry columns of the KeyChange objects (RFC 3414).
constexpr unsigned int kAuthKeyChange = 6;
constexpr unsigned int kOwnAuthKeyChange = 7;
constexpr unsigned int kPrivKeyChange = 9;
constexpr unsigned int kOwnPrivKeyChange = 10;

ObjectId Oid(const char* text) {
    ObjectId oid;
    oid.Set(text);
    return oid;
}

bool IsException(const AsnValue& v) {
    return v.Type() >= 0x80 && v.Type() <= 0x82;
}

bool InSubtree(const ObjectId& oid, const ObjectId& root) {
    return oid.Length() > root.Length() && oid.Compare(root, root.Length()) == 0;
}

SessionResult Failure(SessionStatus status, const std::string& detail) {
    SessionResult r;
    r.status = status;
    r.detail = detail;
    return r;
}

OctetString RandomEngineId() {
    std::random_device rd;
    OctetString id;
    for (unsigned char b : {0x80, 0x00, 0x1F, 0x88, 0x80}) id += b;
    for (int i = 0; i < 8; ++i) id += static_cast<unsigned char>(rd() & 0xFF);
    return id;
}

// Appends a binding with a NULL value for each name.
void NullBindingsInto(const std::vector<ObjectId>& names, VarBindList& out) {
    for (const ObjectId& name : names) {
        out.emplace_back();
        out.back().Objid() = name;
    }
}

}  // namespace

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

std::string SessionResult::Describe() const {
    switch (status) {
        case SessionStatus::Ok:
            if (errorStatus == 0) return "ok";
            return "error " + ErrorStatusName(errorStatus) + " at " + std::to_string(errorIndex);
        case SessionStatus::Timeout:
            return "timeout";
        case SessionStatus::Report: {
            std::string oid;
            reportOid.MakeStr(oid);
            return "report " + oid + (detail.empty() ? "" : " (" + detail + ")");
        }
        case SessionStatus::DecodeError:
            return "decode error " + std::to_string(exceptionType) + ": " + detail;
        case SessionStatus::EncodeError:
            return "encode error " + std::to_string(exceptionType) + ": " + detail;
        case SessionStatus::NotIncreasing:
            return "OID not increasing: " + detail;
        case SessionStatus::Refused:
            return "refused: " + detail;
        case SessionStatus::BadRequest:
            return "bad request: " + detail;
    }
    return "unknown";
}

// ---- Internal state ---------------------------------------------------------------------------

namespace session_internal {

enum class OpKind { Get, GetNext, GetBulk, Set, Inform, Walk, Table, KeyChange, Trap };

struct Op {
    OpKind kind;
    int target = 0;
    Session::Callback cb;
    bool done = false;
    SessionResult result;
    // Get, GetNext, Set, Inform, GetBulk: the request's bindings and what the
    // parts answered, by offset.
    VarBindList vbs;
    // Get, GetNext, GetBulk: the names asked for instead of `vbs`, since every
    // value is NULL; each send builds its one list from them.
    std::vector<ObjectId> names;
    std::map<size_t, VarBindList> parts;
    unsigned int partsLeft = 0;
    int nonReps = 0;
    int maxReps = 0;
    // Walk and Table: one cursor per root; `step` lists the roots the step in
    // flight asks for.
    std::vector<ObjectId> roots;
    std::vector<ObjectId> cursors;
    std::vector<bool> active;
    std::vector<VarBindList> found;
    std::vector<size_t> step;
    bool bulk = false;
    ObjectId entry;
    std::vector<unsigned int> columns;
    // KeyChange.
    SessionKeyChange change;
    std::vector<int> exchanges;  // ids in flight
};

struct Exchange {
    int id = 0;
    std::shared_ptr<Op> op;
    unsigned int pdu = 0;
    VarBindList vbs;
    std::vector<ObjectId> names;  // instead of `vbs` when every value is NULL
    size_t offset = 0;            // first binding of the operation this part carries
    int nonReps = 0;
    int maxReps = 0;
    unsigned int attemptsLeft = 0;
    unsigned int attempts = 0;
    bool started = false;
    bool discovering = false;
    int timeWindowReports = 0;
    Clock::time_point deadline;
};

struct TargetState {
    // conf.target is guarded by the lookup lock (the security processing
    // updates it); these copies of what never changes are read under mu.
    SessionTarget conf;
    SnmpVersion version = SnmpVersionV1;
    brask::IpAddr addr;
    unsigned short port = 0;
    bool hasAuth = false;
    unsigned int inFlight = 0;
    std::deque<int> waiting;
    std::set<std::shared_ptr<Op>> ops;
};

// Deferred work: the dispatcher is never called with the session lock held.
struct Action {
    enum Kind { Send, Cancel, Enqueue } kind;
    int id;
    Message* msg;
    bool discover;
};

struct Completion {
    Session::Callback cb;
    SessionResult result;
};

struct Work {
    std::vector<Action> actions;
    std::vector<Completion> completions;
};

}  // namespace session_internal

using namespace session_internal;

// The session's state; hidden from the library's exports.
struct SessionImpl : public Requestor, public Watch, public TargetLookup {
    using TargetId = Session::TargetId;
    using Options = Session::Options;
    SessionImpl() : TargetLookup(TypeClient) {}

    // ---- Set-up ----
    bool Open(const Options& options);
    void Close();

    // ---- Host side ----
    void Submit(TargetId id, std::shared_ptr<Op> op);
    void Finish(Work& work);

    // ---- Under mu_ ----
    int NewId();
    void StartExchange(TargetState& t, std::unique_ptr<Exchange> ex, Work& work);
    void Launch(TargetState& t, Exchange& ex, Work& work);
    Message* BuildMessage(TargetState& t, Exchange& ex, bool& discover);
    void EndExchange(Exchange& ex, Work& work, bool cancel);
    void CompleteOp(const std::shared_ptr<Op>& op, SessionResult result, Work& work);
    void Answer(Exchange& ex, Message& msg, Work& work);
    void AnswerSimple(Exchange& ex, Message& msg, Work& work);
    void AnswerWalk(Exchange& ex, Message& msg, Work& work);
    void AnswerKeyChange(Exchange& ex, Message& msg, Work& work);
    void NextWalkStep(TargetState& t, const std::shared_ptr<Op>& op, Work& work);
    void NewPart(TargetState& t, const std::shared_ptr<Op>& op, unsigned int pdu, VarBindList vbs,
                 size_t offset, Work& work);
    // A part asking for `names` with NULL values.
    void NewNamesPart(TargetState& t, const std::shared_ptr<Op>& op, unsigned int pdu,
                      std::vector<ObjectId> names, Work& work);
    bool KeyChangeSet(TargetState& t, const std::shared_ptr<Op>& op, std::string& error,
                      Work& work);
    void Expire(Work& work);
    void StartTrap(TargetState& t, const std::shared_ptr<Op>& op, Message* trap, Work& work);
    void ArmTimer(Exchange& ex);
    // Drops the message id's entry of the SNMPv3 lookup.
    void ForgetId(int id) {
        Lock();
        idTarget.erase(id);
        Unlock();
    }
    TargetState* FindState(int target);

    // ---- Library threads ----
    void OnResponse(Dispatcher* dispatcher, Message* response) override;
    void OnReceive(const Message&) override {}
    void OnDecode(const Message& msg) override;
    void OnSend(const Message& msg) override;
    void OnExcept(const Message& msg, const snmp::Exception& e) override;
    Target* FindTarget(const Message& msg) override;
    void UpdateTarget(Target* target, const Message& msg) override;
    void TimerLoop();

    // Counts the library threads inside the session, so that closing waits
    // for them to leave.
    bool Enter();
    void Leave();

    Dispatcher* dispatcher = nullptr;
    bool ownDispatcher = false;
    bool ready = false;
    bool watching = false;
    std::string error;
    OctetString localEngineId;

    mutable std::mutex mu;
    std::condition_variable timerCv;
    bool closing = false;
    int nextTarget = 1;
    int nextId = 1;
    std::map<int, std::unique_ptr<TargetState>> targets;  // changed under mu and the lookup lock
    std::unordered_map<int, std::unique_ptr<Exchange>> exchanges;
    std::set<std::pair<Clock::time_point, int>> timers;
    std::map<int, std::shared_ptr<Op>> traps;  // request id of a queued trap
    std::thread timer;

    // Under the lookup lock: which target an SNMPv3 message id belongs to.
    std::unordered_map<int, int> idTarget;

    std::mutex gateMu;
    std::condition_variable gateCv;
    int entered = 0;
    bool gateClosed = false;
};

// ---- Set-up -----------------------------------------------------------------------------------

bool SessionImpl::Open(const Options& options) {
    localEngineId = options.localEngineId.Empty() ? RandomEngineId() : options.localEngineId;
    if (dispatcher == nullptr) {
        dispatcher = Dispatcher::Create(TypeClient, 0, 0, Dispatcher::SockTypeUdp);
        ownDispatcher = true;
        if (dispatcher == nullptr) {
            error = "cannot create the dispatcher";
            return false;
        }
        dispatcher->SetQueueLimit(options.queueLimit);
        brask::IpEndpoint local(options.localAddr, options.localPort);
        if (!dispatcher->AddEndpoint(local, false)) {
            error = "cannot open the local UDP endpoint " + options.localAddr.ToString() + ":" +
                    std::to_string(options.localPort);
            return false;
        }
        dispatcher->SetTargetLookup(this);
        if (!dispatcher->Start()) {
            error = "cannot start the dispatcher";
            return false;
        }
    } else {
        dispatcher->SetTargetLookup(this);
    }
    // Ids start at a random point, as the dispatcher's own do.
    std::random_device rd;
    nextId = static_cast<int>(rd() % 1000000u) + 1;
    StackInterface::Instance()->RegisterWatch(this);
    watching = true;
    timer = std::thread([this] { TimerLoop(); });
    ready = true;
    return true;
}

void SessionImpl::Close() {
    {
        std::lock_guard<std::mutex> guard(mu);
        closing = true;
    }
    timerCv.notify_all();
    if (timer.joinable()) timer.join();
    if (watching) StackInterface::Instance()->DeregisterWatch(this);
    if (dispatcher != nullptr && ownDispatcher) {
        dispatcher->Stop();
        delete dispatcher;
        dispatcher = nullptr;
    } else if (dispatcher != nullptr) {
        std::vector<int> ids;
        {
            std::lock_guard<std::mutex> guard(mu);
            for (const auto& e : exchanges) ids.push_back(e.first);
        }
        for (int id : ids) delete dispatcher->Cancel(id, true);
    }
    {
        std::unique_lock<std::mutex> gate(gateMu);
        gateClosed = true;
        gateCv.wait(gate, [this] { return entered == 0; });
    }
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        std::set<std::shared_ptr<Op>> ops;
        for (auto& t : targets) ops.insert(t.second->ops.begin(), t.second->ops.end());
        for (const auto& op : ops) {
            CompleteOp(op, Failure(SessionStatus::Refused, "the session is closing"), work);
        }
        exchanges.clear();
        traps.clear();
        timers.clear();
    }
    for (Completion& c : work.completions) c.cb(c.result);
}

bool SessionImpl::Enter() {
    std::lock_guard<std::mutex> gate(gateMu);
    if (gateClosed) return false;
    ++entered;
    return true;
}

void SessionImpl::Leave() {
    std::lock_guard<std::mutex> gate(gateMu);
    if (--entered == 0 && gateClosed) gateCv.notify_all();
}

// ---- Helpers under mu ---------------------------------------------------------------------------

TargetState* SessionImpl::FindState(int target) {
    auto it = targets.find(target);
    return it == targets.end() ? nullptr : it->second.get();
}

int SessionImpl::NewId() {
    for (;;) {
        const int id = nextId;
        nextId = nextId == 2147483647 ? 1 : nextId + 1;
        if (exchanges.count(id) == 0 && traps.count(id) == 0) return id;
    }
}

void SessionImpl::ArmTimer(Exchange& ex) {
    const bool earliest = timers.empty() || ex.deadline < timers.begin()->first;
    timers.emplace(ex.deadline, ex.id);
    if (earliest) timerCv.notify_one();
}

Message* SessionImpl::BuildMessage(TargetState& t, Exchange& ex, bool& discover) {
    auto* msg = new Message();
    // Only the security processing changes a target, and only an SNMPv3 one.
    const bool v3 = t.version == SnmpVersionV3;
    if (v3) Lock();
    msg->SetTarget(t.conf.target);
    discover = v3 && t.conf.target.EngineId().Empty();
    if (v3) Unlock();
    msg->SetType(ex.pdu);
    if (ex.names.empty()) {
        msg->VarBinds() = ex.vbs;
    } else {
        NullBindingsInto(ex.names, msg->VarBinds());
    }
    msg->SetRequestId(ex.id);
    if (ex.pdu == PduGetBulkRequest) {
        msg->SetNonReps(ex.nonReps);
        msg->SetMaxReps(ex.maxReps);
    }
    return msg;
}

void SessionImpl::Launch(TargetState& t, Exchange& ex, Work& work) {
    ex.started = true;
    ++t.inFlight;
    ++ex.attempts;
    ex.timeWindowReports = 0;
    ex.deadline = Clock::now() + std::chrono::milliseconds(t.conf.timeoutMs);
    ArmTimer(ex);
    bool discover = false;
    Message* msg = BuildMessage(t, ex, discover);
    ex.discovering = discover;
    work.actions.push_back({Action::Send, ex.id, msg, discover});
}

void SessionImpl::StartExchange(TargetState& t, std::unique_ptr<Exchange> ex, Work& work) {
    ex->id = NewId();
    ex->attemptsLeft = t.conf.retries;
    ex->op->exchanges.push_back(ex->id);
    Exchange& ref = *ex;
    exchanges.emplace(ex->id, std::move(ex));
    if (t.version == SnmpVersionV3) {
        Lock();
        idTarget[ref.id] = ref.op->target;
        Unlock();
    }
    const unsigned int window = std::max(1u, t.conf.window);
    if (t.inFlight < window && t.waiting.empty()) {
        Launch(t, ref, work);
    } else {
        t.waiting.push_back(ref.id);
    }
}

void SessionImpl::EndExchange(Exchange& ex, Work& work, bool cancel) {
    const int id = ex.id;
    std::shared_ptr<Op> op = ex.op;
    TargetState* t = FindState(op->target);
    if (ex.started) {
        timers.erase({ex.deadline, id});
        if (cancel) work.actions.push_back({Action::Cancel, id, nullptr, false});
    }
    auto& ids = op->exchanges;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    const bool started = ex.started;
    if (t != nullptr && t->version == SnmpVersionV3) ForgetId(id);
    exchanges.erase(id);  // `ex` is gone from here on
    if (t == nullptr) return;
    if (started) {
        --t->inFlight;
    } else {
        t->waiting.erase(std::remove(t->waiting.begin(), t->waiting.end(), id), t->waiting.end());
    }
    const unsigned int window = std::max(1u, t->conf.window);
    while (t->inFlight < window && !t->waiting.empty()) {
        const int next = t->waiting.front();
        t->waiting.pop_front();
        auto it = exchanges.find(next);
        if (it != exchanges.end()) Launch(*t, *it->second, work);
    }
}

void SessionImpl::CompleteOp(const std::shared_ptr<Op>& op, SessionResult result, Work& work) {
    if (op->done) return;
    op->done = true;
    const std::vector<int> left = op->exchanges;
    for (int id : left) {
        auto it = exchanges.find(id);
        if (it != exchanges.end()) EndExchange(*it->second, work, true);
    }
    if (TargetState* t = FindState(op->target)) t->ops.erase(op);
    work.completions.push_back({std::move(op->cb), std::move(result)});
}

// ---- Answers ------------------------------------------------------------------------------------

void SessionImpl::Answer(Exchange& ex, Message& msg, Work& work) {
    std::shared_ptr<Op> op = ex.op;
    const unsigned int attempts = ex.attempts;
    if (msg.Type() == PduReport) {
        SessionResult r;
        r.status = SessionStatus::Report;
        if (!msg.VarBinds().empty()) r.reportOid = msg.VarBinds().front().Objid();
        std::string oid;
        r.reportOid.MakeStr(oid);
        struct Known {
            const char* const* oid;
            const char* text;
        };
        static const Known kKnown[] = {
            {&USM_UNKNOWNUSER, "unknown user name"},
            {&USM_WRONGDIGEST, "wrong digest"},
            {&USM_UNSUPPORTEDLEVEL, "unsupported security level"},
            {&USM_DECRYPT, "decryption error"},
            {&USM_TIMEWINDOW, "not in time window"},
            {&USM_UNKNOWNENGINE, "unknown engine id"},
        };
        for (const auto& k : kKnown) {
            if (oid == *k.oid) r.detail = k.text;
        }
        r.attempts = attempts;
        EndExchange(ex, work, false);
        CompleteOp(op, std::move(r), work);
        return;
    }
    op->result.attempts = attempts;
    switch (op->kind) {
        case OpKind::Walk:
        case OpKind::Table:
            AnswerWalk(ex, msg, work);
            break;
        case OpKind::KeyChange:
            AnswerKeyChange(ex, msg, work);
            break;
        default:
            AnswerSimple(ex, msg, work);
            break;
    }
}

void SessionImpl::NewPart(TargetState& t, const std::shared_ptr<Op>& op, unsigned int pdu,
                          VarBindList vbs, size_t offset, Work& work) {
    auto ex = std::make_unique<Exchange>();
    ex->op = op;
    ex->pdu = pdu;
    ex->vbs = std::move(vbs);
    ex->offset = offset;
    ex->nonReps = op->nonReps;
    ex->maxReps = op->maxReps;
    ++op->partsLeft;
    StartExchange(t, std::move(ex), work);
}

void SessionImpl::NewNamesPart(TargetState& t, const std::shared_ptr<Op>& op, unsigned int pdu,
                               std::vector<ObjectId> names, Work& work) {
    auto ex = std::make_unique<Exchange>();
    ex->op = op;
    ex->pdu = pdu;
    ex->names = std::move(names);
    ex->nonReps = op->nonReps;
    ex->maxReps = op->maxReps;
    ++op->partsLeft;
    StartExchange(t, std::move(ex), work);
}

void SessionImpl::AnswerSimple(Exchange& ex, Message& msg, Work& work) {
    std::shared_ptr<Op> op = ex.op;
    TargetState& t = *FindState(op->target);
    const unsigned int pdu = ex.pdu;
    const size_t offset = ex.offset;
    // Kept only for a tooBig answer, which sends them again.
    VarBindList asked;
    if (msg.ErrStat() == kTooBig) {
        if (ex.names.empty()) {
            asked = std::move(ex.vbs);
        } else {
            NullBindingsInto(ex.names, asked);
        }
    }
    EndExchange(ex, work, false);
    --op->partsLeft;
    if (msg.ErrStat() == kTooBig) {
        // Bindings of a Get or GetNext are independent of each other, so
        // the request can go out in halves; a GetBulk can ask for less.
        if ((pdu == PduGetRequest || pdu == PduGetNextRequest) && asked.size() > 1) {
            auto middle = asked.begin();
            std::advance(middle, asked.size() / 2);
            VarBindList second;
            second.splice(second.begin(), asked, middle, asked.end());
            const size_t half = asked.size();
            NewPart(t, op, pdu, std::move(asked), offset, work);
            NewPart(t, op, pdu, std::move(second), offset + half, work);
            return;
        }
        if (pdu == PduGetBulkRequest && op->maxReps > 1) {
            op->maxReps /= 2;
            NewPart(t, op, pdu, std::move(asked), offset, work);
            return;
        }
    }
    if (msg.ErrStat() != 0) {
        SessionResult r;
        r.status = SessionStatus::Ok;
        r.errorStatus = msg.ErrStat();
        r.errorIndex = msg.ErrIndex() == 0 ? 0 : msg.ErrIndex() + static_cast<int>(offset);
        r.vbs = msg.VarBinds();
        r.attempts = op->result.attempts;
        CompleteOp(op, std::move(r), work);
        return;
    }
    SessionResult r;
    // The answer is ours (OnResponse owns it): its bindings are taken, not copied.
    if (op->partsLeft == 0 && op->parts.empty()) {
        r.vbs = std::move(msg.VarBinds());  // the common case: one part
    } else {
        op->parts[offset] = std::move(msg.VarBinds());
        if (op->partsLeft != 0) return;
        for (auto& part : op->parts) r.vbs.splice(r.vbs.end(), part.second);
    }
    r.status = SessionStatus::Ok;
    r.attempts = op->result.attempts;
    CompleteOp(op, std::move(r), work);
}

void SessionImpl::NextWalkStep(TargetState& t, const std::shared_ptr<Op>& op, Work& work) {
    op->step.clear();
    VarBindList vbs;
    for (size_t i = 0; i < op->roots.size(); ++i) {
        if (!op->active[i]) continue;
        op->step.push_back(i);
        vbs.push_back(VarBind(op->cursors[i], AsnValue()));
    }
    if (op->step.empty()) {
        SessionResult r;
        r.status = SessionStatus::Ok;
        r.attempts = op->result.attempts;
        if (op->kind == OpKind::Walk) {
            r.vbs = std::move(op->found[0]);
        } else {
            // Pivot the columns into rows by index.
            const bool whole = op->columns.empty();
            std::map<unsigned int, size_t> columnAt;
            std::vector<unsigned int> columns = op->columns;
            const unsigned int depth = op->entry.Length();
            if (whole) {
                std::set<unsigned int> seen;
                for (const VarBind& vb : op->found[0])
                    seen.insert(vb.Objid()[static_cast<int>(depth)]);
                columns.assign(seen.begin(), seen.end());
            }
            for (size_t i = 0; i < columns.size(); ++i) columnAt[columns[i]] = i;
            std::map<ObjectId, std::vector<AsnValue>> rows;
            for (const VarBindList& list : op->found) {
                for (const VarBind& vb : list) {
                    const ObjectId& name = vb.Objid();
                    if (name.Length() <= depth + 1) continue;
                    ObjectId index(name.Id() + depth + 1, name.Length() - depth - 1);
                    auto& cells = rows[index];
                    if (cells.empty()) cells.assign(columns.size(), AsnValue(0x81));
                    cells[columnAt[name[static_cast<int>(depth)]]] = vb.Value();
                }
            }
            r.columns = columns;
            for (auto& row : rows) r.rows.push_back({row.first, std::move(row.second)});
        }
        CompleteOp(op, std::move(r), work);
        return;
    }
    auto ex = std::make_unique<Exchange>();
    ex->op = op;
    ex->pdu = op->bulk ? PduGetBulkRequest : PduGetNextRequest;
    ex->vbs = std::move(vbs);
    ex->nonReps = 0;
    ex->maxReps = op->maxReps;
    StartExchange(t, std::move(ex), work);
}

void SessionImpl::AnswerWalk(Exchange& ex, Message& msg, Work& work) {
    std::shared_ptr<Op> op = ex.op;
    TargetState& t = *FindState(op->target);
    const bool v1 = t.version == SnmpVersionV1;
    EndExchange(ex, work, false);
    const int status = msg.ErrStat();
    if (status == kTooBig && op->bulk && op->maxReps > 1) {
        op->maxReps /= 2;
        NextWalkStep(t, op, work);
        return;
    }
    if (status == kNoSuchName && v1) {
        // Past the last instance of one of the roots asked for.
        const int index = msg.ErrIndex();
        if (index >= 1 && static_cast<size_t>(index) <= op->step.size()) {
            op->active[op->step[static_cast<size_t>(index) - 1]] = false;
        } else {
            for (size_t i : op->step) op->active[i] = false;
        }
        NextWalkStep(t, op, work);
        return;
    }
    if (status != 0) {
        SessionResult r;
        r.status = SessionStatus::Ok;
        r.errorStatus = status;
        r.errorIndex = msg.ErrIndex();
        r.attempts = op->result.attempts;
        CompleteOp(op, std::move(r), work);
        return;
    }
    const size_t width = op->step.size();
    std::vector<bool> answered(op->roots.size(), false);
    size_t j = 0;
    for (const VarBind& vb : msg.VarBinds()) {
        const size_t column = op->step[j++ % width];
        answered[column] = true;
        if (!op->active[column]) continue;
        if (IsException(vb.Value()) || !InSubtree(vb.Objid(), op->roots[column])) {
            op->active[column] = false;
            continue;
        }
        if (vb.Objid().Compare(op->cursors[column]) <= 0) {
            SessionResult r;
            r.status = SessionStatus::NotIncreasing;
            std::string before;
            std::string after;
            op->cursors[column].MakeStr(before);
            vb.Objid().MakeStr(after);
            r.detail = after + " after " + before;
            r.attempts = op->result.attempts;
            if (op->kind == OpKind::Walk) r.vbs = std::move(op->found[0]);
            CompleteOp(op, std::move(r), work);
            return;
        }
        op->found[column].push_back(vb);
        op->cursors[column] = vb.Objid();
    }
    // A root the answer said nothing about has nothing more to give.
    for (size_t i : op->step) {
        if (!answered[i]) op->active[i] = false;
    }
    NextWalkStep(t, op, work);
}

// ---- Timer --------------------------------------------------------------------------------------

void SessionImpl::Expire(Work& work) {
    const Clock::time_point now = Clock::now();
    while (!timers.empty() && timers.begin()->first <= now) {
        const int id = timers.begin()->second;
        timers.erase(timers.begin());
        auto it = exchanges.find(id);
        if (it == exchanges.end()) continue;
        Exchange& ex = *it->second;
        TargetState& t = *FindState(ex.op->target);
        if (ex.attemptsLeft > 0) {
            --ex.attemptsLeft;
            --t.inFlight;  // Launch takes the slot again
            Launch(t, ex, work);
            continue;
        }
        std::shared_ptr<Op> op = ex.op;
        SessionResult r = Failure(SessionStatus::Timeout, "no response");
        r.attempts = ex.attempts;
        EndExchange(ex, work, true);
        CompleteOp(op, std::move(r), work);
    }
}

void SessionImpl::TimerLoop() {
    std::unique_lock<std::mutex> lock(mu);
    while (!closing) {
        if (timers.empty()) {
            timerCv.wait(lock);
            continue;
        }
        const Clock::time_point next = timers.begin()->first;
        if (Clock::now() < next) {
            timerCv.wait_until(lock, next);
            continue;
        }
        Work work;
        Expire(work);
        lock.unlock();
        Finish(work);
        lock.lock();
    }
}

// ---- Running deferred work ----------------------------------------------------------------------

void SessionImpl::Finish(Work& work) {
    for (Action& a : work.actions) {
        if (a.kind == Action::Cancel) {
            delete dispatcher->Cancel(a.id, true);
            continue;
        }
        bool ok = false;
        if (a.kind == Action::Enqueue) {
            ok = dispatcher->Enqueue(a.msg);
        } else {
            int id = a.id;
            ok = dispatcher->SendRequest(a.msg, id, a.discover, this);
        }
        if (!ok) delete a.msg;
        Work more;
        bool stale = false;
        {
            std::lock_guard<std::mutex> guard(mu);
            if (a.kind == Action::Enqueue) {
                auto it = traps.find(a.id);
                if (!ok && it != traps.end()) {
                    std::shared_ptr<Op> op = it->second;
                    traps.erase(it);
                    CompleteOp(op,
                               Failure(SessionStatus::Refused, "the dispatcher refused the trap"),
                               more);
                }
            } else {
                auto it = exchanges.find(a.id);
                if (it == exchanges.end()) {
                    // Ended while it was being sent: its new record must go.
                    stale = ok;
                } else if (!ok) {
                    std::shared_ptr<Op> op = it->second->op;
                    EndExchange(*it->second, more, false);
                    CompleteOp(
                        op,
                        Failure(SessionStatus::Refused,
                                "the dispatcher refused the request (stopped or queue full)"),
                        more);
                }
            }
        }
        if (stale) delete dispatcher->Cancel(a.id, true);
        Finish(more);
    }
    for (Completion& c : work.completions) {
        ++callbackDepth;
        c.cb(c.result);
        --callbackDepth;
    }
    work.actions.clear();
    work.completions.clear();
}

// ---- Library callbacks --------------------------------------------------------------------------

void SessionImpl::OnResponse(Dispatcher*, Message* response) {
    std::unique_ptr<Message> msg(response);
    if (!Enter()) return;
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        auto it = exchanges.find(msg->RequestId());
        if (it != exchanges.end() && it->second->started) Answer(*it->second, *msg, work);
    }
    Finish(work);
    Leave();
}

void SessionImpl::OnDecode(const Message& msg) {
    // Time-window Reports are resent by the dispatcher itself; they are
    // counted here so that an agent whose clock cannot be followed ends the
    // request instead of keeping it in a loop until it times out.
    if (msg.Type() != PduReport || msg.VarBinds().empty()) return;
    std::string oid;
    msg.VarBinds().front().Objid().MakeStr(oid);
    const bool window = oid == USM_TIMEWINDOW;
    if (!window && oid != USM_UNKNOWNENGINE) return;
    if (!Enter()) return;
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        auto it = exchanges.find(msg.MsgId());
        const TargetState* from =
            it == exchanges.end() ? nullptr : FindState(it->second->op->target);
        if (from != nullptr && it->second->started && msg.SrcPort() == from->port &&
            msg.SrcAddr() == from->addr) {
            Exchange& ex = *it->second;
            bool fail = false;
            if (window) {
                fail = ++ex.timeWindowReports > (ex.discovering ? 2 : 1);
            } else if (!ex.discovering) {
                // The agent no longer knows the engine id we learnt: forget
                // it, so that the next request discovers the engine again.
                fail = true;
                TargetState& t = *FindState(ex.op->target);
                Lock();
                t.conf.target.SetEngineId(OctetString());
                t.conf.target.SetEngineBoots(0);
                t.conf.target.SetEngineTime(0);
                t.conf.target.SetLastEngineTime(0);
                Unlock();
            }
            if (fail) {
                Message report(msg);
                Answer(ex, report, work);
            }
            if (fail) work.actions.push_back({Action::Cancel, msg.MsgId(), nullptr, false});
        }
    }
    Finish(work);
    Leave();
}

void SessionImpl::OnSend(const Message& msg) {
    if (msg.Type() != PduV1Trap && msg.Type() != PduV2Trap) return;
    if (!Enter()) return;
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        auto it = traps.find(msg.RequestId());
        TargetState* t = it == traps.end() ? nullptr : FindState(it->second->target);
        if (t != nullptr && msg.DstPort() == t->port && msg.DstAddr() == t->addr) {
            std::shared_ptr<Op> op = it->second;
            traps.erase(it);
            ForgetId(msg.RequestId());
            SessionResult r;
            r.status = SessionStatus::Ok;
            r.attempts = 1;
            CompleteOp(op, std::move(r), work);
        }
    }
    Finish(work);
    Leave();
}

void SessionImpl::OnExcept(const Message& msg, const snmp::Exception& e) {
    // tooBig on sending comes back as a local tooBig answer.
    if (e.Type() == 14 || !Enter()) return;
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        const int id = msg.RequestId();
        auto trap = traps.find(id);
        auto it = exchanges.find(id);
        if (trap != traps.end() && (msg.Type() == PduV1Trap || msg.Type() == PduV2Trap)) {
            std::shared_ptr<Op> op = trap->second;
            traps.erase(trap);
            ForgetId(id);
            SessionResult r = Failure(SessionStatus::EncodeError, e.Descr());
            r.exceptionType = e.Type();
            CompleteOp(op, std::move(r), work);
        } else if (it != exchanges.end() && it->second->started) {
            Exchange& ex = *it->second;
            const TargetState& peer = *FindState(ex.op->target);
            const bool incoming = msg.SrcPort() == peer.port && msg.SrcAddr() == peer.addr;
            const bool outgoing = msg.DstPort() == peer.port && msg.DstAddr() == peer.addr;
            if (incoming || outgoing) {
                std::shared_ptr<Op> op = ex.op;
                SessionResult r = Failure(
                    incoming ? SessionStatus::DecodeError : SessionStatus::EncodeError, e.Descr());
                r.exceptionType = e.Type();
                r.attempts = ex.attempts;
                EndExchange(ex, work, true);
                CompleteOp(op, std::move(r), work);
            }
        }
    }
    Finish(work);
    Leave();
}

Target* SessionImpl::FindTarget(const Message& msg) {
    // Called with the lookup lock held.
    auto it = idTarget.find(msg.MsgId());
    if (it != idTarget.end()) {
        auto t = targets.find(it->second);
        if (t != targets.end()) return &t->second->conf.target;
    }
    // A late answer or a trap: the first target with its address and user.
    const bool incoming = msg.SrcPort() != 0;
    for (auto& entry : targets) {
        Target& t = entry.second->conf.target;
        if (t.Version() != SnmpVersionV3) continue;
        const bool place = incoming ? (msg.SrcPort() == t.Port() && msg.SrcAddr() == t.Addr())
                                    : (msg.DstPort() == t.Port() && msg.DstAddr() == t.Addr());
        if (place && (msg.UserName().empty() || msg.UserName() == t.UserName())) return &t;
    }
    return nullptr;
}

void SessionImpl::UpdateTarget(Target* target, const Message& msg) {
    if (!Enter()) return;
    Lock();
    if (Target* stored = FindTarget(msg)) {
        if (stored->UserName() == target->UserName()) {
            // The passwords stay ours: a key change may have replaced them.
            USMAttributes attributes(*stored->SecAttributes());
            *stored = *target;
            *stored->SecAttributes() = attributes;
        }
    }
    Unlock();
    Leave();
}

// ---- Host operations ----------------------------------------------------------------------------

void SessionImpl::Submit(TargetId id, std::shared_ptr<Op> op) {
    Work work;
    {
        std::lock_guard<std::mutex> guard(mu);
        TargetState* t = FindState(id);
        SessionResult refusal;
        bool refuse = true;
        if (closing) {
            refusal = Failure(SessionStatus::Refused, "the session is closing");
        } else if (t == nullptr) {
            refusal = Failure(SessionStatus::BadRequest, "unknown target " + std::to_string(id));
        } else {
            refuse = false;
        }
        if (!refuse) {
            const SnmpVersion version = t->version;
            std::string bad;
            switch (op->kind) {
                case OpKind::Get:
                case OpKind::GetNext:
                    if (op->names.empty()) bad = "no bindings";
                    break;
                case OpKind::Set:
                    if (op->vbs.empty()) bad = "no bindings";
                    break;
                case OpKind::GetBulk:
                    if (op->names.empty()) bad = "no bindings";
                    if (version == SnmpVersionV1) bad = "GetBulk needs SNMPv2c or SNMPv3";
                    break;
                case OpKind::Inform:
                    if (version == SnmpVersionV1) bad = "informs need SNMPv2c or SNMPv3";
                    break;
                case OpKind::KeyChange:
                    if (version != SnmpVersionV3 || !t->hasAuth) {
                        bad = "key change needs an SNMPv3 target with authentication";
                    }
                    break;
                default:
                    break;
            }
            if (!bad.empty()) {
                refuse = true;
                refusal = Failure(SessionStatus::BadRequest, bad);
            }
        }
        if (refuse) {
            work.completions.push_back({std::move(op->cb), std::move(refusal)});
        } else {
            op->target = id;
            t->ops.insert(op);
            const bool v1 = t->version == SnmpVersionV1;
            switch (op->kind) {
                case OpKind::Get:
                    NewNamesPart(*t, op, PduGetRequest, std::move(op->names), work);
                    break;
                case OpKind::GetNext:
                    NewNamesPart(*t, op, PduGetNextRequest, std::move(op->names), work);
                    break;
                case OpKind::GetBulk:
                    NewNamesPart(*t, op, PduGetBulkRequest, std::move(op->names), work);
                    break;
                case OpKind::Set:
                    NewPart(*t, op, PduSetRequest, std::move(op->vbs), 0, work);
                    break;
                case OpKind::Inform:
                    NewPart(*t, op, PduInformRequest, std::move(op->vbs), 0, work);
                    break;
                case OpKind::Walk:
                case OpKind::Table:
                    op->bulk = !v1 && t->conf.maxRepetitions > 0;
                    op->maxReps = static_cast<int>(t->conf.maxRepetitions);
                    op->cursors = op->roots;
                    op->active.assign(op->roots.size(), true);
                    op->found.assign(op->roots.size(), VarBindList());
                    NextWalkStep(*t, op, work);
                    break;
                case OpKind::KeyChange: {
                    Lock();
                    const bool known = !t->conf.target.EngineId().Empty();
                    Unlock();
                    std::string bad;
                    if (!known) {
                        // Any request discovers the engine; snmpEngineID.0 is one
                        // every SNMPv3 agent has.
                        VarBindList probe;
                        probe.push_back(VarBind(Oid("1.3.6.1.6.3.10.2.1.1.0"), AsnValue()));
                        NewPart(*t, op, PduGetRequest, probe, 0, work);
                    } else if (!KeyChangeSet(*t, op, bad, work)) {
                        CompleteOp(op, Failure(SessionStatus::BadRequest, bad), work);
                    }
                    break;
                }
                case OpKind::Trap:
                    break;
            }
        }
    }
    Finish(work);
}

bool SessionImpl::KeyChangeSet(TargetState& t, const std::shared_ptr<Op>& op, std::string& error,
                               Work& work) {
    const SessionKeyChange& c = op->change;
    Lock();
    Target own(t.conf.target);
    Unlock();
    const USMAttributes& ownUser = *own.SecAttributes();
    const bool self = c.userName.empty() || c.userName == ownUser.UserName();
    // The changed user's current keys, localised to the agent's engine.
    Target user(own);
    USMAttributes* attributes = user.SecAttributes();
    attributes->SetUserName(self ? ownUser.UserName() : c.userName);
    if (!c.oldAuthPass.empty()) attributes->SetAuthPass(c.oldAuthPass);
    if (!c.oldPrivPass.empty()) attributes->SetPrivPass(c.oldPrivPass);
    if (!user.CalculateKeys()) {
        error = "cannot derive the user's current keys";
        return false;
    }
    ObjectId index;
    index += user.EngineId().Size();
    for (unsigned int i = 0; i < user.EngineId().Size(); ++i)
        index += user.EngineId()[static_cast<int>(i)];
    index += static_cast<unsigned int>(attributes->UserName().size());
    for (unsigned char ch : attributes->UserName()) index += ch;
    ObjectId entry = Oid("1.3.6.1.6.3.15.1.2.2.1");
    VarBindList vbs;
    auto add = [&](unsigned int column, const OctetString& value) {
        ObjectId name = entry;
        name += column;
        name += index;
        AsnValue v(0x04);
        v.SetString(value);
        vbs.push_back(VarBind(name, v));
    };
    if (!c.newAuthPass.empty()) {
        OctetString change;
        if (!attributes->KeyChangeRequest(user.AuthKey(), c.newAuthPass, user.EngineId(), change)) {
            error = "cannot build the authentication KeyChange";
            return false;
        }
        add(c.own ? kOwnAuthKeyChange : kAuthKeyChange, change);
    }
    if (!c.newPrivPass.empty()) {
        if (attributes->Priv() == nullptr) {
            error = "the user has no privacy protocol";
            return false;
        }
        // The agent keeps as many octets as the cipher takes.
        OctetString oldKey = user.PrivKey();
        const unsigned int length = attributes->Priv()->KeyLength();
        if (oldKey.Size() > length) oldKey.Resize(static_cast<int>(length));
        OctetString change;
        if (!attributes->KeyChangeRequest(oldKey, c.newPrivPass, user.EngineId(), change)) {
            error = "cannot build the privacy KeyChange";
            return false;
        }
        add(c.own ? kOwnPrivKeyChange : kPrivKeyChange, change);
    }
    if (vbs.empty()) {
        error = "no new password given";
        return false;
    }
    NewPart(t, op, PduSetRequest, std::move(vbs), 0, work);
    return true;
}

void SessionImpl::AnswerKeyChange(Exchange& ex, Message& msg, Work& work) {
    std::shared_ptr<Op> op = ex.op;
    TargetState& t = *FindState(op->target);
    const bool probe = ex.pdu == PduGetRequest;
    EndExchange(ex, work, false);
    if (probe) {
        std::string bad;
        if (!KeyChangeSet(t, op, bad, work)) {
            CompleteOp(op, Failure(SessionStatus::BadRequest, bad), work);
        }
        return;
    }
    SessionResult r;
    r.status = SessionStatus::Ok;
    r.errorStatus = msg.ErrStat();
    r.errorIndex = msg.ErrIndex();
    r.vbs = msg.VarBinds();
    r.attempts = op->result.attempts;
    const SessionKeyChange& c = op->change;
    Lock();
    USMAttributes* a = t.conf.target.SecAttributes();
    if (r.errorStatus == 0 && (c.userName.empty() || c.userName == a->UserName())) {
        if (!c.newAuthPass.empty()) a->SetAuthPass(c.newAuthPass);
        if (!c.newPrivPass.empty()) a->SetPrivPass(c.newPrivPass);
        t.conf.target.CalculateKeys();
    }
    Unlock();
    CompleteOp(op, std::move(r), work);
}

void SessionImpl::StartTrap(TargetState& t, const std::shared_ptr<Op>& op, Message* trap,
                            Work& work) {
    const int id = NewId();
    Lock();
    Target& peer = t.conf.target;
    trap->SetTarget(peer);
    if (peer.Version() == SnmpVersionV3) {
        // This side is the authoritative engine of its traps.
        if (peer.EngineId().Empty()) {
            peer.SetEngineId(localEngineId);
            peer.SetEngineBoots(1);
            peer.SetEngineTime(UpTime() / 100);
            if (peer.SecAttributes() != nullptr && peer.SecAttributes()->Auth() != nullptr) {
                peer.CalculateKeys();
            }
        }
        trap->InitSecurity(this);
        trap->SetReportable(false);
        idTarget[id] = op->target;
    }
    Unlock();
    trap->SetRequestId(id);
    traps[id] = op;
    work.actions.push_back({Action::Enqueue, id, trap, false});
}

// ---- Session ------------------------------------------------------------------------------------

namespace {

std::shared_ptr<Op> NewOp(OpKind kind, Session::Callback cb) {
    auto op = std::make_shared<Op>();
    op->kind = kind;
    op->cb = std::move(cb);
    return op;
}

VarBindList NotificationBindings(const ObjectId& trapOid, unsigned int upTime,
                                 const VarBindList& vbs) {
    Message shape;
    shape.Init(SnmpVersionV2c, PduInformRequest, trapOid, upTime, vbs);
    return shape.VarBinds();
}

// The future and blocking forms of an operation given by `start`, which
// takes the callback.
std::future<SessionResult> AsFuture(const std::function<void(Session::Callback)>& start) {
    auto promise = std::make_shared<std::promise<SessionResult>>();
    std::future<SessionResult> future = promise->get_future();
    start([promise](const SessionResult& r) { promise->set_value(r); });
    return future;
}

SessionResult Blocking(const std::function<void(Session::Callback)>& start) {
    if (callbackDepth > 0) {
        return Failure(SessionStatus::Refused, "a blocking call from inside a session callback");
    }
    return AsFuture(start).get();
}

}  // namespace

Session::Session() : Session(Options()) {}

Session::Session(const Options& options) : impl_(std::make_unique<SessionImpl>()) {
    impl_->Open(options);
}

Session::Session(Dispatcher* dispatcher) : impl_(std::make_unique<SessionImpl>()) {
    impl_->dispatcher = dispatcher;
    if (dispatcher == nullptr || dispatcher->GetType() != TypeClient) {
        impl_->error = "a client-mode dispatcher is needed";
        impl_->dispatcher = nullptr;
        return;
    }
    impl_->Open(Options());
}

Session::~Session() {
    impl_->Close();
}

bool Session::Ready() const {
    return impl_->ready;
}

const std::string& Session::Error() const {
    return impl_->error;
}

const OctetString& Session::LocalEngineId() const {
    return impl_->localEngineId;
}

Session::TargetId Session::AddTarget(const SessionTarget& target) {
    const bool v3 = target.target.Version() == SnmpVersionV3;
    if (v3 && target.target.SecAttributes() == nullptr) return -1;
    auto state = std::make_unique<TargetState>();
    state->conf = target;
    Target& t = state->conf.target;
    state->version = t.Version();
    state->addr = t.Addr();
    state->port = t.Port();
    state->hasAuth = v3 && t.SecAttributes()->Auth() != nullptr;
    if (v3 && !t.EngineId().Empty() && t.AuthKey().Empty() &&
        t.SecAttributes()->Auth() != nullptr) {
        t.CalculateKeys();
    }
    std::lock_guard<std::mutex> guard(impl_->mu);
    const int id = impl_->nextTarget++;
    impl_->Lock();
    impl_->targets.emplace(id, std::move(state));
    impl_->Unlock();
    return id;
}

bool Session::RemoveTarget(TargetId id) {
    Work work;
    {
        std::lock_guard<std::mutex> guard(impl_->mu);
        auto* t = impl_->FindState(id);
        if (t == nullptr) return false;
        const std::set<std::shared_ptr<Op>> ops = t->ops;
        for (const auto& op : ops) {
            impl_->CompleteOp(op, Failure(SessionStatus::Refused, "the target was removed"), work);
        }
        for (auto it = impl_->traps.begin(); it != impl_->traps.end();) {
            if (it->second->target != id) {
                ++it;
                continue;
            }
            impl_->ForgetId(it->first);
            it = impl_->traps.erase(it);
        }
        impl_->Lock();
        impl_->targets.erase(id);
        impl_->Unlock();
    }
    impl_->Finish(work);
    return true;
}

bool Session::GetTarget(TargetId id, SessionTarget& out) const {
    std::lock_guard<std::mutex> guard(impl_->mu);
    auto it = impl_->targets.find(id);
    if (it == impl_->targets.end()) return false;
    impl_->Lock();
    out = it->second->conf;
    impl_->Unlock();
    return true;
}

void Session::AsyncGet(TargetId id, const std::vector<ObjectId>& oids, Callback cb) {
    auto op = NewOp(OpKind::Get, std::move(cb));
    op->names = oids;
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncGet(TargetId id, const std::vector<ObjectId>& oids) {
    return AsFuture([&](Callback cb) { AsyncGet(id, oids, std::move(cb)); });
}

SessionResult Session::Get(TargetId id, const std::vector<ObjectId>& oids) {
    return Blocking([&](Callback cb) { AsyncGet(id, oids, std::move(cb)); });
}

void Session::AsyncGetNext(TargetId id, const std::vector<ObjectId>& oids, Callback cb) {
    auto op = NewOp(OpKind::GetNext, std::move(cb));
    op->names = oids;
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncGetNext(TargetId id, const std::vector<ObjectId>& oids) {
    return AsFuture([&](Callback cb) { AsyncGetNext(id, oids, std::move(cb)); });
}

SessionResult Session::GetNext(TargetId id, const std::vector<ObjectId>& oids) {
    return Blocking([&](Callback cb) { AsyncGetNext(id, oids, std::move(cb)); });
}

void Session::AsyncGetBulk(TargetId id, const std::vector<ObjectId>& oids, int nonRepeaters,
                           int maxRepetitions, Callback cb) {
    auto op = NewOp(OpKind::GetBulk, std::move(cb));
    op->names = oids;
    op->nonReps = nonRepeaters;
    op->maxReps = maxRepetitions;
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncGetBulk(TargetId id, const std::vector<ObjectId>& oids,
                                                 int nonRepeaters, int maxRepetitions) {
    return AsFuture(
        [&](Callback cb) { AsyncGetBulk(id, oids, nonRepeaters, maxRepetitions, std::move(cb)); });
}

SessionResult Session::GetBulk(TargetId id, const std::vector<ObjectId>& oids, int nonRepeaters,
                               int maxRepetitions) {
    return Blocking(
        [&](Callback cb) { AsyncGetBulk(id, oids, nonRepeaters, maxRepetitions, std::move(cb)); });
}

void Session::AsyncSet(TargetId id, const VarBindList& vbs, Callback cb) {
    auto op = NewOp(OpKind::Set, std::move(cb));
    op->vbs = vbs;
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncSet(TargetId id, const VarBindList& vbs) {
    return AsFuture([&](Callback cb) { AsyncSet(id, vbs, std::move(cb)); });
}

SessionResult Session::Set(TargetId id, const VarBindList& vbs) {
    return Blocking([&](Callback cb) { AsyncSet(id, vbs, std::move(cb)); });
}

void Session::AsyncWalk(TargetId id, const ObjectId& root, Callback cb) {
    auto op = NewOp(OpKind::Walk, std::move(cb));
    op->roots.push_back(root);
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncWalk(TargetId id, const ObjectId& root) {
    return AsFuture([&](Callback cb) { AsyncWalk(id, root, std::move(cb)); });
}

SessionResult Session::Walk(TargetId id, const ObjectId& root) {
    return Blocking([&](Callback cb) { AsyncWalk(id, root, std::move(cb)); });
}

void Session::AsyncGetTable(TargetId id, const ObjectId& entry,
                            const std::vector<unsigned int>& columns, Callback cb) {
    auto op = NewOp(OpKind::Table, std::move(cb));
    op->entry = entry;
    op->columns = columns;
    if (columns.empty()) {
        op->roots.push_back(entry);
    }
    for (unsigned int column : columns) {
        ObjectId root = entry;
        root += column;
        op->roots.push_back(root);
    }
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncGetTable(TargetId id, const ObjectId& entry,
                                                  const std::vector<unsigned int>& columns) {
    return AsFuture([&](Callback cb) { AsyncGetTable(id, entry, columns, std::move(cb)); });
}

SessionResult Session::GetTable(TargetId id, const ObjectId& entry,
                                const std::vector<unsigned int>& columns) {
    return Blocking([&](Callback cb) { AsyncGetTable(id, entry, columns, std::move(cb)); });
}

void Session::AsyncInform(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                          const VarBindList& vbs, Callback cb) {
    auto op = NewOp(OpKind::Inform, std::move(cb));
    op->vbs = NotificationBindings(trapOid, upTime, vbs);
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncInform(TargetId id, const ObjectId& trapOid,
                                                unsigned int upTime, const VarBindList& vbs) {
    return AsFuture([&](Callback cb) { AsyncInform(id, trapOid, upTime, vbs, std::move(cb)); });
}

SessionResult Session::Inform(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                              const VarBindList& vbs) {
    return Blocking([&](Callback cb) { AsyncInform(id, trapOid, upTime, vbs, std::move(cb)); });
}

namespace {

void SubmitTrap(SessionImpl& impl, Session::TargetId id, std::unique_ptr<Message> trap,
                Session::Callback cb, bool v1Trap);

}  // namespace

void Session::AsyncTrap(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                        const VarBindList& vbs, Callback cb) {
    auto trap = std::make_unique<Message>();
    trap->Init(SnmpVersionV2c, PduV2Trap, trapOid, upTime, vbs);
    SubmitTrap(*impl_, id, std::move(trap), std::move(cb), false);
}

void Session::AsyncTrap(TargetId id, const Message& v1Trap, Callback cb) {
    SubmitTrap(*impl_, id, std::make_unique<Message>(v1Trap), std::move(cb), true);
}

SessionResult Session::Trap(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                            const VarBindList& vbs) {
    return Blocking([&](Callback cb) { AsyncTrap(id, trapOid, upTime, vbs, std::move(cb)); });
}

SessionResult Session::Trap(TargetId id, const Message& v1Trap) {
    return Blocking([&](Callback cb) { AsyncTrap(id, v1Trap, std::move(cb)); });
}

namespace {

void SubmitTrap(SessionImpl& impl, Session::TargetId id, std::unique_ptr<Message> trap,
                Session::Callback cb, bool v1Trap) {
    Work work;
    {
        std::lock_guard<std::mutex> guard(impl.mu);
        auto* t = impl.FindState(id);
        SessionResult refusal;
        bool refuse = true;
        if (impl.closing) {
            refusal = Failure(SessionStatus::Refused, "the session is closing");
        } else if (t == nullptr) {
            refusal = Failure(SessionStatus::BadRequest, "unknown target " + std::to_string(id));
        } else if (v1Trap != (t->version == SnmpVersionV1) ||
                   (v1Trap && trap->Type() != PduV1Trap)) {
            refusal = Failure(SessionStatus::BadRequest,
                              "SNMPv1 targets take SNMPv1 traps, the others SNMPv2 traps");
        } else {
            refuse = false;
            auto op = NewOp(OpKind::Trap, std::move(cb));
            op->target = id;
            t->ops.insert(op);
            impl.StartTrap(*t, op, trap.release(), work);
        }
        if (refuse) work.completions.push_back({std::move(cb), std::move(refusal)});
    }
    impl.Finish(work);
}

}  // namespace

void Session::AsyncChangeKeys(TargetId id, const SessionKeyChange& change, Callback cb) {
    auto op = NewOp(OpKind::KeyChange, std::move(cb));
    op->change = change;
    impl_->Submit(id, op);
}

std::future<SessionResult> Session::AsyncChangeKeys(TargetId id, const SessionKeyChange& change) {
    return AsFuture([&](Callback cb) { AsyncChangeKeys(id, change, std::move(cb)); });
}

SessionResult Session::ChangeKeys(TargetId id, const SessionKeyChange& change) {
    return Blocking([&](Callback cb) { AsyncChangeKeys(id, change, std::move(cb)); });
}

}  // namespace snmp
