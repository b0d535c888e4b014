#include "ChangeSubscription.h"

#include "CallFailure.h"

#include <algorithm>
#include <thread>

namespace korvent
{
  constexpr std::chrono::milliseconds ChangeSubscription::checkInterval;
  constexpr std::chrono::milliseconds ChangeSubscription::maxBackOff;
  constexpr std::chrono::milliseconds ChangeSubscription::firstBackOff;

  ChangeSubscription::ChangeSubscription(std::function<std::unique_ptr<ChangeInbox>()> connect)
    : connect_(std::move(connect))
  {
  }

  std::optional<MapChange> ChangeSubscription::waitForOther(std::uint64_t lastVersion,
                                                           std::chrono::milliseconds timeout)
  {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      Clock::time_point now = Clock::now();
      if (!inbox_ && now >= nextAttempt_ && tryConnect(now))
        return std::nullopt;
      if (!inbox_) {
        if (nextAttempt_ >= deadline)
          return std::nullopt;
        std::this_thread::sleep_until(nextAttempt_);
        continue;
      }
      if (suspect_ || now - lastHeard_ >= checkInterval) {
        if (check(now))
          return std::nullopt;
        continue;
      }
      const Clock::time_point until = std::min(deadline, lastHeard_ + checkInterval);
      if (std::optional<MapChange> change =
              inbox_->waitForOther(lastVersion, std::chrono::duration_cast<std::chrono::milliseconds>(until - now))) {
        lastHeard_ = Clock::now();
        reached();
        return change;
      }
      if (Clock::now() >= deadline)
        return std::nullopt;
    }
  }

  bool ChangeSubscription::tryConnect(Clock::time_point now)
  {
    try {
      inbox_ = connect_();
    }
    catch (const CallTimedOut&) {
      if (!everConnected_)
        throw;
      retryLater(now);
      return true;
    }
    catch (const Error&) {
      if (!everConnected_)
        throw;
      retryLater(now);
      return false;
    }
    if (everConnected_)
      ++reconnections_;
    everConnected_ = true;
    suspect_ = false;
    if (unreachable_.empty())
      backOff_ = firstBackOff;
    lastHeard_ = Clock::now();
    return false;
  }

  void ChangeSubscription::retryLater(Clock::time_point now)
  {
    nextAttempt_ = now + backOff_;
    backOff_ = std::min(backOff_ * 2, maxBackOff);
  }

  bool ChangeSubscription::check(Clock::time_point now)
  {
    suspect_ = false;
    bool connected = false;
    bool answered = false;
    bool silent = false;
    try {
      connected = inbox_->stillConnected();
      answered = true;
    }
    catch (const CORBA::SystemException& error) {
      silent = timedOut(error);
    }
    catch (const CORBA::Exception&) {
      connected = false;
    }
    if (connected) {
      lastHeard_ = Clock::now();
      if (inbox_->heard())
        reached();
      return false;
    }
    // A component that answers but dropped a connection that never brought
    // an event could not push to it (its first push is the current map's).
    const bool pushFailed = answered && !inbox_->heard();
    if (pushFailed)
      unreachable_ = inbox_->pushAddress();
    if (silent)
      inbox_->componentSilent();
    inbox_.reset();
    if (pushFailed)
      retryLater(now);
    else
      nextAttempt_ = now;
    return silent;
  }

  void ChangeSubscription::reached()
  {
    unreachable_.clear();
    backOff_ = firstBackOff;
  }
}
