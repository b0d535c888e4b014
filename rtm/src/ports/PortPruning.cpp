// PortBase: dropping connectors whose peers' processes are gone.
#include "rtm/ports/PortBase.h"

#include "rtm/orb/PeerCalls.h"
#include "rtm/ports/ConnectorText.h"
#include "rtm/util/Logger.h"

namespace RTC
{
  namespace
  {
    // A peer the ORB reports as gone, as opposed to one that is slow.
    bool isGone(PortService_ptr port)
    {
      try {
        return port->_non_existent();
      }
      catch (const CORBA::OBJECT_NOT_EXIST&) {
        return true;
      }
      catch (const CORBA::TRANSIENT&) {
        return true;
      }
      catch (const CORBA::COMM_FAILURE&) {
        return true;
      }
      catch (const CORBA::Exception&) {
        return false;  // a timeout, or a peer that does not speak the protocol
      }
    }

    // Asked-for profiles check their peers at most this often.
    const std::chrono::seconds pruneInterval{2};
  }

  void PortBase::pruneDeadConnectors()
  {
    ConnectorProfileList connectors;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connectors = profile_.connector_profiles;
      lastPrune_ = std::chrono::steady_clock::now();
    }
    const Deadline deadline(peerCallTimeout());
    for (CORBA::ULong c = 0; c < connectors.length() && !deadline.expired(); ++c) {
      bool dead = false;
      for (CORBA::ULong p = 0; p < connectors[c].ports.length() && !dead && !deadline.expired(); ++p)
        dead = !isMe(connectors[c].ports[p]) && isGone(connectors[c].ports[p]);
      if (dead) {
        logger().warn("port " + getName() + ": a peer of " + connectorText(connectors[c]) +
                      " is gone; disconnecting");
        disconnect(connectors[c].connector_id);
      }
    }
  }

  void PortBase::pruneIfDue()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (profile_.connector_profiles.length() == 0 ||
          std::chrono::steady_clock::now() - lastPrune_ < pruneInterval)
        return;
    }
    pruneDeadConnectors();
  }
}
