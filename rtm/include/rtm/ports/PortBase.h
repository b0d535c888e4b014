#ifndef RTM_PORTBASE_H
#define RTM_PORTBASE_H

#include <RTC.hh>

#include "rtm/orb/ActivatedServant.h"

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace RTC
{
  // A component's port: its profile and the standard connect/disconnect
  // protocol shared by every kind of port.  Subclasses say what a port
  // publishes to and takes from a connection.
  class PortBase : public virtual POA_RTC::PortService
  {
  public:
    explicit PortBase(const char* name);
    virtual ~PortBase();

    // RTC::PortService
    PortProfile* get_port_profile() override;
    ConnectorProfileList* get_connector_profiles() override;
    ConnectorProfile* get_connector_profile(const char* connector_id) override;
    ReturnCode_t connect(ConnectorProfile& connector_profile) override;
    ReturnCode_t disconnect(const char* connector_id) override;
    ReturnCode_t disconnect_all() override;
    ReturnCode_t notify_connect(ConnectorProfile& connector_profile) override;
    ReturnCode_t notify_disconnect(const char* connector_id) override;

    // The name on the wire: "<instance>.<port>" once the owner's instance
    // name is known, the name the port was created with until then.
    std::string getName() const;
    void setOwnerInstanceName(const std::string& instanceName);
    void setOwner(RTObject_ptr owner);

    // Puts the port (and whatever it serves) into the POA, and takes it out.
    void activate(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa);
    void deactivate();
    // True once the ORB has let go of the port and of what it serves.
    bool isReleased() const;
    void waitReleased();
    PortService_ptr getPortRef() const;  // nil until activated; duplicated

    // Drops every connector that lists a port whose process is gone (the
    // ORB says it does not exist or cannot be reached).  A peer that is
    // merely slow keeps its connector.  Calls peers; holds no lock meanwhile.
    void pruneDeadConnectors();

  protected:
    CORBA::ORB_ptr orb() const { return orb_.in(); }                // nil until activated
    PortableServer::POA_ptr poa() const { return poa_.in(); }       // nil until activated
    void addInterfaceProfile(const PortInterfaceProfile& profile);
    void addProperty(const std::string& name, const std::string& value);
    // "<instance>.port.<port>": the stem of the keys this port publishes.
    std::string keyStem() const;

    virtual ReturnCode_t publishInterfaces(ConnectorProfile& profile) = 0;
    virtual ReturnCode_t subscribeInterfaces(const ConnectorProfile& profile) = 0;
    virtual void unsubscribeInterfaces(const ConnectorProfile& profile) = 0;
    // The connection is stored: from here on a disconnection finds it.
    virtual void onConnected(const ConnectorProfile&) {}
    virtual void onActivated(PortableServer::POA_ptr) {}
    virtual void onDeactivated() {}
    virtual bool servantsReleased() const { return true; }

  private:
    // Marks a connector id as being connected by this port for the length
    // of one connect or notify_connect, so that a chain or a peer that comes
    // back to this port with the same id is refused instead of recursing.
    class Connecting;

    bool isMe(PortService_ptr port) const;
    bool hasConnectorTo(const ConnectorProfile& profile) const;
    bool findConnector(const char* id, ConnectorProfile& out) const;
    bool isKnown(const char* id) const;
    std::size_t connectorCount() const;
    // `peerNames` are kept for the line that logs its disconnection.
    ReturnCode_t storeConnector(const ConnectorProfile& profile, const std::string& peerNames);
    // Logs the disconnection when there was a connector to erase.
    bool eraseConnector(const char* id);
    // The other ports' names, asked of them (a call to each, together
    // bounded by the peer call timeout), for log lines.
    std::string peerPortNames(const ConnectorProfile& profile) const;
    // Logs (WARN) why a connector is refused; returns `code`.
    ReturnCode_t refuse(const ConnectorProfile& profile, ReturnCode_t code, const std::string& why) const;
    void peerFailed(const ConnectorProfile& profile, const char* call, const CORBA::Exception& error) const;
    // notify_connect's work; `peersReached` tells whether the chain went on
    // to other ports, which may then hold the connection.
    // The profile has been checked against the limits by the caller.
    ReturnCode_t joinChain(ConnectorProfile& profile, bool& peersReached);
    ReturnCode_t connectNext(ConnectorProfile& profile);
    ReturnCode_t disconnectNext(const ConnectorProfile& profile);
    void withdrawFromPeers(const ConnectorProfile& profile);
    void pruneIfDue();

    const std::string localName_;
    mutable std::mutex mutex_;  // guards profile_; never held across a remote call
    PortProfile profile_;
    std::set<std::string> initiating_;  // ids of connect calls in progress
    std::set<std::string> connecting_;  // ids of notify_connect calls in progress
    std::map<std::string, std::string> peerNames_;  // by connector id, as logged
    std::chrono::steady_clock::time_point lastPrune_;
    CORBA::ORB_var orb_;
    PortableServer::POA_var poa_;
    ActivatedServant activation_;
  };
}

#endif // RTM_PORTBASE_H
