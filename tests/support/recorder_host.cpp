// Hosts one component that prints every action callback it receives, one
// per line, so that a test in another process can check their order.  The
// component's IOR is printed first.  With RECORDER_FAIL_EXECUTE=1 the first
// on_execute after each activation fails; with RECORDER_FAIL_EXECUTE=throw
// it throws a plain C++ exception instead.
#include "ComponentHost.h"

#include <rtm/component/DataFlowComponentBase.h>
#include <rtm/manager/Manager.h>

#include <cstdlib>
#include <iostream>
#include <mutex>
#include <stdexcept>

namespace
{
  const char* recorderProfile[] = {
    "implementation_id", "Recorder", "type_name", "Recorder", "description", "callback recorder",
    "version", "1.0.0", "vendor", "test", "category", "Test", ""};

  class Recorder : public RTC::DataFlowComponentBase
  {
  public:
    explicit Recorder(RTC::Manager* manager) : RTC::DataFlowComponentBase(manager) {}

    RTC::ReturnCode_t onInitialize() override { return record("on_initialize"); }
    RTC::ReturnCode_t onFinalize() override { return record("on_finalize"); }
    RTC::ReturnCode_t onStartup(RTC::UniqueId id) override { return record("on_startup", id); }
    RTC::ReturnCode_t onShutdown(RTC::UniqueId id) override { return record("on_shutdown", id); }
    RTC::ReturnCode_t onActivated(RTC::UniqueId id) override
    {
      executed_ = false;
      return record("on_activated", id);
    }
    RTC::ReturnCode_t onDeactivated(RTC::UniqueId id) override { return record("on_deactivated", id); }
    RTC::ReturnCode_t onAborting(RTC::UniqueId id) override { return record("on_aborting", id); }
    RTC::ReturnCode_t onReset(RTC::UniqueId id) override { return record("on_reset", id); }
    RTC::ReturnCode_t onRateChanged(RTC::UniqueId id) override { return record("on_rate_changed", id); }

    // Periodic callbacks are recorded once per activation or error, not at 1 kHz.
    RTC::ReturnCode_t onExecute(RTC::UniqueId id) override
    {
      if (executed_)
        return RTC::RTC_OK;
      executed_ = true;
      record("on_execute", id);
      const std::string fail = std::getenv("RECORDER_FAIL_EXECUTE") ? std::getenv("RECORDER_FAIL_EXECUTE") : "";
      if (fail == "throw")
        throw std::runtime_error("on_execute failed");
      return fail == "1" ? RTC::RTC_ERROR : RTC::RTC_OK;
    }
    RTC::ReturnCode_t onStateUpdate(RTC::UniqueId id) override
    {
      if (updated_)
        return RTC::RTC_OK;
      updated_ = true;
      return record("on_state_update", id);
    }
    RTC::ReturnCode_t onError(RTC::UniqueId id) override
    {
      if (errored_)
        return RTC::RTC_OK;
      errored_ = true;
      return record("on_error", id);
    }

  private:
    RTC::ReturnCode_t record(const char* name, RTC::UniqueId id = -1)
    {
      static std::mutex mutex;
      std::lock_guard<std::mutex> lock(mutex);
      std::cout << name;
      if (id >= 0)
        std::cout << ' ' << id;
      std::cout << std::endl;
      return RTC::RTC_OK;
    }

    bool executed_ = false;
    bool updated_ = false;
    bool errored_ = false;
  };

  RTC::RTObject_impl* createRecorder(RTC::Manager* manager) { return new Recorder(manager); }
  void destroyRecorder(RTC::RTObject_impl* component) { delete component; }

  void initRecorder(RTC::Manager* manager)
  {
    createAndPrintComponent(manager, recorderProfile, createRecorder, destroyRecorder);
  }
}

int main(int argc, char** argv)
{
  return runComponentHost(argc, argv, initRecorder);
}
