#ifndef KORVENT_CLIENT_CHANGESUBSCRIPTION_H
#define KORVENT_CLIENT_CHANGESUBSCRIPTION_H

#include "ChangeInbox.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace korvent
{
  // A change inbox kept connected.  While no event comes, the connection is
  // checked every `checkInterval`, and at once after a failed call to the
  // component; a lost one is made again, retrying after 0.1 s, then twice as
  // long each time up to `maxBackOff`.  A connection the component dropped
  // before any event came on it means its pushes cannot reach this process:
  // connecting again then waits as after a failed attempt, longer each time,
  // until an event comes.  The component sends the current
  // map's event to the new connection, so a waiter catches up by comparing
  // versions.
  class ChangeSubscription
  {
  public:
    static constexpr std::chrono::milliseconds checkInterval{1000};
    static constexpr std::chrono::milliseconds firstBackOff{100};
    static constexpr std::chrono::milliseconds maxBackOff{5000};

    // `connect` makes a new inbox, or throws an Error when it cannot.
    explicit ChangeSubscription(std::function<std::unique_ptr<ChangeInbox>()> connect);

    // As ChangeInbox::waitForOther.  The first connection's failure is
    // thrown; later ones are retried until `timeout`.
    std::optional<MapChange> waitForOther(std::uint64_t lastVersion, std::chrono::milliseconds timeout);

    // A call to the component failed: check the connection at the next wait.
    void suspect() { suspect_ = true; }

    // Connections found lost and made again.
    std::uint64_t reconnections() const { return reconnections_; }

    // The address the component could not push to: the last connection was
    // dropped before any event came on it.  Empty once an event comes.
    const std::string& unreachable() const { return unreachable_; }

  private:
    using Clock = std::chrono::steady_clock;

    // Both return true when the component did not answer within the call
    // timeout: the wait then makes no further call, so that it ends within
    // one call timeout of its own.
    bool tryConnect(Clock::time_point now);
    void retryLater(Clock::time_point now);
    bool check(Clock::time_point now);
    // An event came: pushes reach this process.
    void reached();

    std::function<std::unique_ptr<ChangeInbox>()> connect_;
    std::unique_ptr<ChangeInbox> inbox_;
    bool everConnected_ = false;
    std::atomic<bool> suspect_{false};
    std::atomic<std::uint64_t> reconnections_{0};
    Clock::time_point lastHeard_;   // last event or successful check
    Clock::time_point nextAttempt_;
    std::chrono::milliseconds backOff_ = firstBackOff;
    std::string unreachable_;
  };
}

#endif // KORVENT_CLIENT_CHANGESUBSCRIPTION_H
