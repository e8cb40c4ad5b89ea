// The two server-mode roles of zksnmp: the agent (answers Get, GetNext,
// GetBulk, Set and Inform from an AgentMib) and the notification receiver
// (prints every trap and inform and answers the informs).
#ifndef ZKSNMP_SERVER_H
#define ZKSNMP_SERVER_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent_mib.h"
#include "brask/ip_addr.h"
#include "lookup.h"
#include "snmp/dispatcher.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"

namespace zksnmp {

// Options shared by `agent` and `listen`.
struct ServerOptions {
    std::string listen = "127.0.0.1:161";
    brask::IpAddr addr{0x7F000001U};  // IPv4 or IPv6
    unsigned short port = 161;
    std::vector<std::string> roCommunities;  // empty: "public" (agent) or any (listen)
    std::vector<std::string> rwCommunities;  // empty: "private" (agent)
    std::vector<UserSpec> users;             // read-only unless named in rwUsers
    std::set<std::string> rwUsers;           // agent only
    // Agent only: the lowest level a user is served at; a user not named
    // here must use the level its passwords allow (LevelOf).
    std::map<std::string, snmp::v3SecurityLevel> minLevels;
    // Agent only: the view of a community or user; one not named here sees
    // the whole MIB.
    std::map<std::string, MibView> communityViews;
    std::map<std::string, MibView> userViews;
    snmp::OctetString engineId;  // empty: a random one
    std::string mibFile;         // agent only
    unsigned int rows = 10;      // agent only
    bool json = false;
};

// Parses --listen, --community, --rw-community, --user (repeatable),
// --engine-id, --mib, --rows, --json. `agent` selects the agent's defaults
// and accepts --mib, --rows, --rw-user, and --view OID (repeatable) and
// --level LEVEL, which apply to the community or user named just before
// them. False with a reason (error "help" for -h).
bool ParseServerArgs(const std::vector<std::string>& args, bool agent, ServerOptions& out,
                     std::string& error);

// A server-mode dispatcher on one endpoint with a LocalUserLookup.
class ServerBase : protected snmp::ServerRequestor {
public:
    explicit ServerBase(const ServerOptions& options);
    virtual ~ServerBase();
    ServerBase(const ServerBase&) = delete;
    ServerBase& operator=(const ServerBase&) = delete;

    // Opens the endpoint and starts the dispatcher; the library must have
    // been initialised. False with a reason.
    bool Start(std::string& error);
    // Stops the dispatcher (answers still pending are sent first).
    void Stop();
    unsigned short Port() const { return port_; }
    const snmp::OctetString& EngineId() const { return engineId_; }
    // Seconds since the server started (the local engine's time).
    static unsigned int EngineTime();

protected:
    // Access of a v1/v2c community: 0 none, 1 read-only, 2 read-write.
    int CommunityAccess(const std::string& community) const;
    // Gives the answer to the dispatcher (deleting it when it is refused).
    static void Answer(snmp::Dispatcher* dispatcher, snmp::Message* answer);
    // A Response to `request` with the given bindings and error. The
    // request's own bindings are not copied into it (they are set aside for
    // the copy and put back), so an answer costs one list, not two.
    static snmp::Message* ResponseTo(snmp::Message& request, snmp::VarBindList vbs, int errorStatus,
                                     int errorIndex);

    ServerOptions options_;
    bool anyCommunity_ = false;

private:
    snmp::OctetString engineId_;
    std::unique_ptr<LocalUserLookup> lookup_;
    snmp::Dispatcher* dispatcher_ = nullptr;
    unsigned short port_ = 0;
    bool started_ = false;
};

// `zksnmp agent`.
class AgentServer : public ServerBase {
public:
    // Builds the MIB: system group, statistics, the generated table and the
    // dump file. False (from Load) when the dump file cannot be read.
    explicit AgentServer(const ServerOptions& options);
    // Stops first: the dispatcher must not call into a half-destroyed agent.
    ~AgentServer() override { Stop(); }
    bool Load(std::string& error);
    AgentMib& Mib() { return mib_; }

private:
    void OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) override;
    // The lowest security level `user` is served at.
    snmp::v3SecurityLevel MinLevel(const std::string& user) const;
    AgentMib mib_;
    MibView all_;
};

// `zksnmp listen`: every accepted notification is given to `sink` as text
// (one or more lines) or one JSON line.
class NotificationListener : public ServerBase {
public:
    NotificationListener(const ServerOptions& options,
                         std::function<void(const std::string&)> sink);
    ~NotificationListener() override { Stop(); }

private:
    void OnRequest(snmp::Dispatcher* dispatcher, snmp::Message* msg) override;
    std::function<void(const std::string&)> sink_;
};

// Describes a received notification as `listen` prints it.
std::string DescribeNotification(const snmp::Message& msg, bool json);

// The command entry points: run until SIGINT or SIGTERM.
int RunAgent(const std::vector<std::string>& args);
int RunListen(const std::vector<std::string>& args);

}  // namespace zksnmp

#endif
