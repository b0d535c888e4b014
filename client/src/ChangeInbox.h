#ifndef KORVENT_CLIENT_CHANGEINBOX_H
#define KORVENT_CLIENT_CHANGEINBOX_H

#include "korvent/Client.h"

#include <DataPort_OpenRTM.hh>
#include <RTC.hh>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace korvent
{
  // An InPort of the client's own, connected to the component's
  // "mapChanged" port: the component pushes each announced map to it, the
  // newest first to a late joiner.  Disconnects and lets go of its servant
  // when destroyed.
  class ChangeInbox
  {
  public:
    ChangeInbox(CORBA::ORB_ptr orb, RTC::RTObject_ptr component, std::chrono::milliseconds timeout,
                const std::string& where);
    ~ChangeInbox();
    ChangeInbox(const ChangeInbox&) = delete;
    ChangeInbox& operator=(const ChangeInbox&) = delete;

    // The newest change whose version is not `lastVersion`, waiting for one
    // up to `timeout`.
    std::optional<MapChange> waitForOther(std::uint64_t lastVersion, std::chrono::milliseconds timeout);

    // Whether the component still lists this connection: it drops one whose
    // push failed or timed out, and a restarted component knows none.  One
    // call, bounded by the call timeout; a failed call throws.
    bool stillConnected();

    // Whether an event came on this connection.
    bool heard() const;
    // The component did not answer: the connection is let go without
    // telling it, which would wait for it once more; it drops the
    // connection itself at its first push that fails.
    void componentSilent() { silent_ = true; }
    // Where this inbox asked the component to push: "host:port" from the
    // reference it published, or "this process" if it names no TCP address.
    const std::string& pushAddress() const { return pushAddress_; }

    // Shared with the servant, which the ORB may still hold for a moment.
    struct Latest
    {
      std::mutex mutex;
      std::condition_variable arrived;
      std::optional<MapChange> change;
    };

  private:
    std::shared_ptr<Latest> latest_;
    PortableServer::POA_var poa_;
    PortableServer::ObjectId_var servantId_;
    RTC::PortService_var port_;
    std::string connectorId_;
    std::string pushAddress_;
    bool silent_ = false;
  };
}

#endif // KORVENT_CLIENT_CHANGEINBOX_H
