// A manager session of zksnmp: a client-mode dispatcher talking to one agent,
// with the time-outs and retries that the dispatcher leaves to its host.
#ifndef ZKSNMP_SESSION_H
#define ZKSNMP_SESSION_H

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "lookup.h"
#include "options.h"
#include "snmp/dispatcher.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/var_bind.h"
#include "snmp/watch.h"

namespace zksnmp {

// The text of an SNMPv3 Report's counter, as the usual tools print it
// ("Unknown user name", "Authentication failure (...)", ...).
std::string ReportText(const snmp::Message& report);
// The name of an error-status value ("noSuchName", "notWritable", ...).
std::string ErrorStatusName(int status);

class ClientSession : private snmp::Requestor, private snmp::Watch {
public:
    // `localEngineId` is the engine id SNMPv3 traps are sent from (this side
    // is their authoritative engine); empty picks a random one.
    explicit ClientSession(const ClientOptions& options,
                           const snmp::OctetString& localEngineId = snmp::OctetString());
    ~ClientSession() override;
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // Creates and starts the dispatcher on an ephemeral local port. The
    // library must have been initialised (snmp::Init). False with a reason.
    bool Open(std::string& error);
    void Close();

    // Sends one request (Get, GetNext, GetBulk with the options' -Cn/-Cr,
    // Set, Inform) and waits for its answer, resending after each time-out as
    // often as the options allow. The answer may carry an error-status; a
    // Report or the end of the retries gives null and the reason in `error`
    // ("Timeout: No Response from HOST"). `rttMs` receives the round-trip
    // time of the whole exchange.
    std::unique_ptr<snmp::Message> Request(unsigned int pduType, const snmp::VarBindList& vbs,
                                           std::string& error, double* rttMs = nullptr);
    // Sends an SNMPv1 trap or SNMPv2 trap built by the caller (version,
    // addresses and security are filled in here) and waits until it has been
    // handed to the socket. False with a reason.
    bool SendTrap(std::unique_ptr<snmp::Message> trap, std::string& error);

    const ClientOptions& Options() const { return options_; }
    // What the session knows about the agent's engine now.
    snmp::Target Peer() { return lookup_->Current(); }

private:
    void OnResponse(snmp::Dispatcher* dispatcher, snmp::Message* response) override;
    void OnReceive(const snmp::Message&) override {}
    void OnDecode(const snmp::Message&) override {}
    void OnSend(const snmp::Message& msg) override;
    void OnExcept(const snmp::Message& msg, const snmp::Exception& e) override;

    ClientOptions options_;
    snmp::Target target_;
    std::unique_ptr<PeerLookup> lookup_;
    snmp::Dispatcher* dispatcher_ = nullptr;
    bool started_ = false;
    bool watching_ = false;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int, snmp::Message*> responses_;
    unsigned int trapsSent_ = 0;
    std::string sendError_;
};

}  // namespace zksnmp

#endif
