// The manager session: time-outs, retries, a window of requests per target,
// walks, tables, tooBig recovery and SNMPv3 key change, on top of one
// client-mode Dispatcher that serves any number of targets.
#ifndef SNMP_SESSION_H
#define SNMP_SESSION_H

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "brask/ip_addr.h"
#include "snmp/asn_value.h"
#include "snmp/export.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/var_bind.h"

namespace snmp {

class Dispatcher;
struct SessionImpl;

// How a request ended.
enum class SessionStatus : int {
    Ok = 0,         // an answer came; it may still carry an error-status
    Timeout,        // no answer within the time-out, after every retry
    Report,         // an SNMPv3 Report came in place of the answer (reportOid)
    DecodeError,    // an answer came that could not be decoded, authenticated or decrypted
    EncodeError,    // the request could not be encoded (unknown user, no keys, bad value)
    NotIncreasing,  // a walk got an OID that does not follow the one it asked for
    Refused,        // the dispatcher refused it, the session is closing, the target was
                    // removed, or a blocking call was made from a session callback
    BadRequest      // unknown target, no bindings, GetBulk or Inform over SNMPv1, ...
};

// One row of a table: its index (the arcs after the column) and one cell per
// column of SessionResult::columns; a cell the agent did not have holds a
// noSuchInstance (0x81) value.
struct SNMP_API SessionRow {
    ObjectId index;
    std::vector<AsnValue> cells;
};

// The outcome of one operation.
struct SNMP_API SessionResult {
    SessionStatus status = SessionStatus::Refused;
    // The answer's error-status and error-index (index 1 is the first binding
    // of the operation, also when a Get was split into several requests).
    int errorStatus = 0;
    int errorIndex = 0;
    // The answer's bindings; for Walk every binding of the subtree in order.
    VarBindList vbs;
    // Report: the object the Report named (a usmStats counter).
    ObjectId reportOid;
    // DecodeError, EncodeError: the library's exception type (snmp::Exception).
    int exceptionType = 0;
    // GetTable: the column numbers and the rows in index order.
    std::vector<unsigned int> columns;
    std::vector<SessionRow> rows;
    // How often the last request of the operation went out (1 + retries used).
    unsigned int attempts = 0;
    // A short text for failures (empty for Ok).
    std::string detail;

    // Ok with error-status 0.
    bool Ok() const { return status == SessionStatus::Ok && errorStatus == 0; }
    // One line: "ok", "timeout", "error noSuchName at 2", "report
    // .1.3.6.1.6.3.15.1.1.3.0 (unknown user name)", "decode error 203: ...".
    std::string Describe() const;
};

// The name of an error-status value ("noError", "tooBig", "noSuchName", ...),
// "error N" for values without one.
SNMP_API std::string ErrorStatusName(int status);

// A target as the session serves it: the peer and its security (for SNMPv3
// the Target holds the user's attributes; the engine data is learnt by the
// session unless given) and the request settings, which follow the usual
// tools (-t, -r, -Cr).
struct SNMP_API SessionTarget {
    Target target;
    // Time-out of one attempt in milliseconds, and the number of further
    // attempts. A retry resends the request under the same request id, so an
    // answer to an earlier attempt still completes it; an SNMPv3 retry is
    // encoded anew with the current engine time.
    unsigned int timeoutMs = 1000;
    unsigned int retries = 5;
    // Requests in flight to this target at once; the others wait their turn
    // in the order given. 0 counts as 1.
    unsigned int window = 1;
    // Walks and tables use GetBulk with this many repetitions (SNMPv2c and
    // SNMPv3), or GetNext when it is 0 and always over SNMPv1.
    unsigned int maxRepetitions = 10;
};

// The passwords of an SNMPv3 user to change on the agent (RFC 3414 KeyChange).
struct SNMP_API SessionKeyChange {
    // The user whose keys change; empty means the target's own user. The user
    // shares the target user's protocols.
    std::string userName;
    // The current passwords; empty means the target's own (for its own user).
    std::string oldAuthPass;
    std::string oldPrivPass;
    // The new passwords; an empty one leaves that key as it is.
    std::string newAuthPass;
    std::string newPrivPass;
    // Write the usmUserOwn*KeyChange objects (a user changing its own keys
    // with no access to the others) instead of usmUser*KeyChange.
    bool own = false;
};

// A manager session. It owns a client-mode dispatcher (first constructor) or
// uses one it is given, installs itself as that dispatcher's TargetLookup
// and keeps every target's learnt SNMPv3 engine data.
//
// Threads: one timer thread of the session's own, which sleeps until the
// earliest deadline of the requests in flight (and without any while none
// is); the dispatcher's threads deliver the answers. Callbacks run on those
// threads, or on the calling thread when a request is refused at once. A
// callback may start further requests but must not wait for one: the
// blocking calls made from inside a callback return Refused at once.
//
// All operations are safe to call from any thread. Operations named Async*
// return at once; the callback is called exactly once, the future overload
// becomes ready exactly once. The plain names block until the result.
class SNMP_API Session {
public:
    using TargetId = int;
    using Callback = std::function<void(const SessionResult&)>;

    // Where the session's own dispatcher listens: port 0 lets the system choose.
    struct Options {
        brask::IpAddr localAddr = brask::IpAddr(0U);
        unsigned short localPort = 0;
        // The dispatcher's send-queue limit (0: none).
        unsigned int queueLimit = 0;
        // The engine id SNMPv3 traps are sent from; empty picks a random one.
        OctetString localEngineId;
    };

    // Creates, opens and starts a dispatcher of its own; snmp::Init must have
    // been called. Check Ready() (and Error()).
    Session();
    explicit Session(const Options& options);
    // Uses a started client-mode dispatcher owned by the host, which gives no
    // other requests to it while the session exists and stops it before it
    // destroys the session.
    explicit Session(Dispatcher* dispatcher);
    // Ends every operation still running with Refused (their callbacks run),
    // stops the timer thread and stops and deletes an own dispatcher.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Ready() const;
    const std::string& Error() const;
    // This side's SNMPv3 engine id (traps).
    const OctetString& LocalEngineId() const;

    // Adds a target; -1 when it cannot be served (an SNMPv3 target without
    // security attributes). For SNMPv3 given engine data (id, boots, time)
    // is used as it is and keys are localised to a given engine id.
    TargetId AddTarget(const SessionTarget& target);
    // Removes a target; its operations end with Refused. False when unknown.
    bool RemoveTarget(TargetId id);
    // A copy of the target with the engine data learnt so far. False when unknown.
    bool GetTarget(TargetId id, SessionTarget& out) const;

    // Get. A tooBig answer to a Get of several bindings splits it in two
    // halves, again as often as needed; the results come back in order.
    void AsyncGet(TargetId id, const std::vector<ObjectId>& oids, Callback cb);
    std::future<SessionResult> AsyncGet(TargetId id, const std::vector<ObjectId>& oids);
    SessionResult Get(TargetId id, const std::vector<ObjectId>& oids);

    void AsyncGetNext(TargetId id, const std::vector<ObjectId>& oids, Callback cb);
    std::future<SessionResult> AsyncGetNext(TargetId id, const std::vector<ObjectId>& oids);
    SessionResult GetNext(TargetId id, const std::vector<ObjectId>& oids);

    // GetBulk (not over SNMPv1). A tooBig answer is asked again with half the
    // repetitions, down to one.
    void AsyncGetBulk(TargetId id, const std::vector<ObjectId>& oids, int nonRepeaters,
                      int maxRepetitions, Callback cb);
    std::future<SessionResult> AsyncGetBulk(TargetId id, const std::vector<ObjectId>& oids,
                                            int nonRepeaters, int maxRepetitions);
    SessionResult GetBulk(TargetId id, const std::vector<ObjectId>& oids, int nonRepeaters,
                          int maxRepetitions);

    // Set, never split.
    void AsyncSet(TargetId id, const VarBindList& vbs, Callback cb);
    std::future<SessionResult> AsyncSet(TargetId id, const VarBindList& vbs);
    SessionResult Set(TargetId id, const VarBindList& vbs);

    // Every instance below `root`, in order. The walk ends at the end of the
    // subtree, at an exception value (endOfMibView), and at SNMPv1's
    // noSuchName; an OID that does not increase ends it with NotIncreasing
    // (the bindings so far are kept in the result).
    void AsyncWalk(TargetId id, const ObjectId& root, Callback cb);
    std::future<SessionResult> AsyncWalk(TargetId id, const ObjectId& root);
    SessionResult Walk(TargetId id, const ObjectId& root);

    // The columns of the table entry `entry` (e.g. ifEntry) as rows by index.
    // The columns are walked side by side; with no columns given the whole
    // entry is walked and every column found is kept.
    void AsyncGetTable(TargetId id, const ObjectId& entry, const std::vector<unsigned int>& columns,
                       Callback cb);
    std::future<SessionResult> AsyncGetTable(TargetId id, const ObjectId& entry,
                                             const std::vector<unsigned int>& columns);
    SessionResult GetTable(TargetId id, const ObjectId& entry,
                           const std::vector<unsigned int>& columns);

    // An InformRequest (SNMPv2c, SNMPv3) with sysUpTime.0 = `upTime`,
    // snmpTrapOID.0 = `trapOid`, then `vbs`; Ok once acknowledged.
    void AsyncInform(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                     const VarBindList& vbs, Callback cb);
    std::future<SessionResult> AsyncInform(TargetId id, const ObjectId& trapOid,
                                           unsigned int upTime, const VarBindList& vbs);
    SessionResult Inform(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                         const VarBindList& vbs);

    // An SNMPv2 trap (SNMPv2c, SNMPv3 from LocalEngineId() unless the target
    // names an engine) with the bindings of Inform, or an SNMPv1 trap built
    // by the caller (Message::Init for SNMPv1 traps; addresses and community
    // are filled in from the target). Ok once it has been handed to the
    // socket; no retries.
    void AsyncTrap(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                   const VarBindList& vbs, Callback cb);
    void AsyncTrap(TargetId id, const Message& v1Trap, Callback cb);
    SessionResult Trap(TargetId id, const ObjectId& trapOid, unsigned int upTime,
                       const VarBindList& vbs);
    SessionResult Trap(TargetId id, const Message& v1Trap);

    // Changes an SNMPv3 user's keys on the agent with a Set of the KeyChange
    // objects, discovering the agent's engine first when needed. When the
    // user is the target's own, the target uses the new passwords from then
    // on. Refused with BadRequest for a target without authentication.
    void AsyncChangeKeys(TargetId id, const SessionKeyChange& change, Callback cb);
    std::future<SessionResult> AsyncChangeKeys(TargetId id, const SessionKeyChange& change);
    SessionResult ChangeKeys(TargetId id, const SessionKeyChange& change);

private:
    std::unique_ptr<SessionImpl> impl_;
};

}  // namespace snmp

#endif
