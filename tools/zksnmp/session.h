// zksnmp's manager side: the command-line options turned into one target of
// a library session (snmp::Session), and the session's results turned into
// the texts the usual tools print.
#ifndef ZKSNMP_SESSION_H
#define ZKSNMP_SESSION_H

#include <functional>
#include <memory>
#include <string>

#include "lookup.h"
#include "options.h"
#include "snmp/message.h"
#include "snmp/session.h"
#include "snmp/target.h"
#include "snmp/var_bind.h"

namespace zksnmp {

// The text of an SNMPv3 Report's counter, as the usual tools print it
// ("Unknown user name", "Authentication failure (...)", ...).
std::string ReportText(const snmp::ObjectId& counter);
std::string ReportText(const snmp::Message& report);
using snmp::ErrorStatusName;

class ClientSession {
public:
    // `localEngineId` is the engine id SNMPv3 traps are sent from (this side
    // is their authoritative engine); empty picks a random one.
    explicit ClientSession(const ClientOptions& options = ClientOptions(),
                           const snmp::OctetString& localEngineId = snmp::OctetString());
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Starts the session on an ephemeral local port. The library must have
    // been initialised (snmp::Init). False with a reason.
    bool Open(std::string& error);
    void Close();

    // Sends one request (Get, GetNext, GetBulk with the options' -Cn/-Cr,
    // Set, Inform with sysUpTime.0 and snmpTrapOID.0 first) and waits for
    // its answer, with the options' time-out and retries. The answer may
    // carry an error-status; a Report or the end of the retries gives null
    // and the reason in `error` ("Timeout: No Response from HOST"). `rttMs`
    // receives the time of the whole exchange.
    std::unique_ptr<snmp::Message> Request(unsigned int pduType, const snmp::VarBindList& vbs,
                                           std::string& error, double* rttMs = nullptr);
    // Sends an SNMPv1 trap or SNMPv2 trap built by the caller and waits until
    // it has been handed to the socket. False with a reason.
    bool SendTrap(std::unique_ptr<snmp::Message> trap, std::string& error);
    // Runs a session operation on this target and waits for it; false with
    // the tool's text for a failure (an answer with an error-status is true).
    bool Run(const std::function<snmp::SessionResult(snmp::Session&, snmp::Session::TargetId)>& op,
             snmp::SessionResult& result, std::string& error);

    const ClientOptions& Options() const { return options_; }
    // What the session knows about the agent's engine now.
    snmp::Target Peer();

private:
    std::string FailureText(const snmp::SessionResult& r) const;

    ClientOptions options_;
    snmp::OctetString localEngineId_;
    std::unique_ptr<snmp::Session> session_;
    snmp::Session::TargetId target_ = -1;
};

}  // namespace zksnmp

#endif
