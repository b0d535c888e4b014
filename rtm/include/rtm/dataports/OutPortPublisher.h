#ifndef RTM_OUTPORTPUBLISHER_H
#define RTM_OUTPORTPUBLISHER_H

#include <DataPort_OpenRTM.hh>

#include "rtm/dataports/DataConnection.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace RTC
{
  // Pushes one connection's values to its InPort on a thread of its own, so
  // that a slow, stopped or dead InPort never holds up the writer or the
  // other connections.  Each put is bounded by the peer call timeout.
  //   flush     every value in order, as fast as the peer takes them; when
  //             more than the buffer length wait, the oldest is dropped
  //   new       only the newest value waiting; older ones are skipped
  //   periodic  at most push_rate times a second, the newest value waiting
  // A put that fails with a CORBA exception (the peer is gone, or did not
  // answer in time) ends the publisher: `lost` is called, once, on its
  // thread, and nothing more is sent.  A status other than PORT_OK drops
  // that value only.
  class OutPortPublisher
  {
  public:
    OutPortPublisher(OpenRTM::InPortCdr_ptr consumer, const DataConnection& settings, std::function<void()> lost);
    // Stops the thread: waits for a put in progress, except on the
    // publisher's own thread (from `lost`), where it lets the thread end alone.
    ~OutPortPublisher();
    // Tells the thread to stop, without waiting: several publishers told
    // first, then destroyed, stop together rather than one after another.
    void stop();
    // True on the publisher's own thread (in `lost`).
    bool onOwnThread() const;
    OutPortPublisher(const OutPortPublisher&) = delete;
    OutPortPublisher& operator=(const OutPortPublisher&) = delete;

    ByteOrder byteOrder() const { return byteOrder_; }
    // Queues one encoded value; never waits for the peer.
    void offer(std::string bytes);

  private:
    struct State;
    static void run(const std::shared_ptr<State>& state);

    const ByteOrder byteOrder_;
    std::shared_ptr<State> state_;  // shared with the thread, which may outlive this object
    std::thread thread_;
  };
}

#endif // RTM_OUTPORTPUBLISHER_H
