#include "rtm/dataports/OutPortPublisher.h"

#include "rtm/orb/PeerCalls.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace RTC
{
  struct OutPortPublisher::State
  {
    OpenRTM::InPortCdr_var consumer;
    DataConnection settings;
    std::function<void()> lost;
    std::mutex mutex;  // guards the members below
    std::condition_variable wake;
    std::deque<std::string> waiting;
    bool stopping = false;
  };

  OutPortPublisher::OutPortPublisher(OpenRTM::InPortCdr_ptr consumer, const DataConnection& settings,
                                     std::function<void()> lost)
    : byteOrder_(settings.byteOrder),
      state_(std::make_shared<State>())
  {
    state_->consumer = OpenRTM::InPortCdr::_duplicate(consumer);
    omniORB::setClientCallTimeout(state_->consumer.in(), static_cast<CORBA::ULong>(peerCallTimeout().count()));
    state_->settings = settings;
    state_->lost = std::move(lost);
    thread_ = std::thread([state = state_] { run(state); });
  }

  OutPortPublisher::~OutPortPublisher()
  {
    stop();
    if (onOwnThread())
      thread_.detach();
    else
      thread_.join();
  }

  void OutPortPublisher::stop()
  {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->stopping = true;
    }
    state_->wake.notify_all();
  }

  bool OutPortPublisher::onOwnThread() const
  {
    return thread_.get_id() == std::this_thread::get_id();
  }

  void OutPortPublisher::offer(std::string bytes)
  {
    std::deque<std::string> skipped;  // freed outside the lock
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      const bool keepsAll = state_->settings.subscription == DataConnection::Subscription::Flush;
      if (!keepsAll)
        skipped.swap(state_->waiting);
      else if (state_->waiting.size() >= state_->settings.bufferLength) {
        skipped.push_back(std::move(state_->waiting.front()));
        state_->waiting.pop_front();
      }
      state_->waiting.push_back(std::move(bytes));
    }
    state_->wake.notify_all();
  }

  void OutPortPublisher::run(const std::shared_ptr<State>& state)
  {
    const bool periodic = state->settings.subscription == DataConnection::Subscription::Periodic;
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / state->settings.pushRate));
    auto nextPush = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
      state->wake.wait(lock, [&] { return state->stopping || !state->waiting.empty(); });
      if (periodic && !state->stopping) {
        state->wake.wait_until(lock, nextPush, [&] { return state->stopping; });
        nextPush = std::max(nextPush + period, std::chrono::steady_clock::now());
      }
      if (state->stopping)
        return;
      std::string bytes = std::move(state->waiting.front());
      state->waiting.pop_front();
      lock.unlock();
      bool failed = false;
      try {
        OpenRTM::CdrData data(static_cast<CORBA::ULong>(bytes.size()), static_cast<CORBA::ULong>(bytes.size()),
                              reinterpret_cast<CORBA::Octet*>(bytes.data()), false);
        state->consumer->put(data);
      }
      catch (const CORBA::Exception&) {
        failed = true;
      }
      lock.lock();
      if (failed) {
        // A port stopping this publisher has dropped the connection already.
        if (state->stopping)
          return;
        lock.unlock();
        state->lost();
        return;
      }
    }
  }
}
