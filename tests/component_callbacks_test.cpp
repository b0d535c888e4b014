// The order of a component's action callbacks as the execution context and
// the tools drive it, observed from another process.
#include "ChildProcess.h"
#include "GridMapClient.h"
#include "NameServer.h"

#include <RTC.hh>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  class Callbacks : public ::testing::Test
  {
  protected:
    // `failExecute`: "0", "1" (return an error) or "throw".
    void start(const std::string& failExecute, const std::vector<std::string>& extraArgs = {})
    {
      std::vector<std::string> argv{"/usr/bin/env", "-C", "/",
                                    "RECORDER_FAIL_EXECUTE=" + failExecute,
                                    RECORDER_HOST_PATH, "-o", "naming.enable:NO",
                                    // generous: a loaded CI machine may be slow to schedule the context
                                    "-o", "exec_cxt.transition_timeout:5",
                                    "-o", "corba.endpoints:127.0.0.1:"};
      argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
      host_ = std::make_unique<ChildProcess>(argv);
      for (;;) {
        std::optional<std::string> line = host_->readLine(20s);
        ASSERT_TRUE(line) << host_->errorOutput();
        if (line->rfind("IOR:", 0) == 0) {
          CORBA::Object_var object = clientOrb()->string_to_object(line->c_str());
          rtc_ = RTC::RTObject::_narrow(object);
          break;
        }
        seen_.push_back(*line);
      }
      RTC::ExecutionContextList_var contexts = rtc_->get_owned_contexts();
      ec_ = RTC::ExecutionContextService::_narrow(contexts[0]);
    }

    // Reads callback lines until `last` arrives; returns all read so far.
    std::vector<std::string> until(const std::string& last)
    {
      while (seen_.empty() || seen_.back() != last) {
        std::optional<std::string> line = host_->readLine(10s);
        if (!line)
          break;
        seen_.push_back(*line);
      }
      return seen_;
    }

    std::unique_ptr<ChildProcess> host_;
    RTC::RTObject_var rtc_;
    RTC::ExecutionContextService_var ec_;
    std::vector<std::string> seen_;
  };
}

TEST_F(Callbacks, LifeCycleRunsInOrderAndExitEndsTheProcess)
{
  start("0");
  EXPECT_EQ(RTC::RTC_OK, ec_->activate_component(rtc_));
  until("on_state_update 0");
  EXPECT_EQ(RTC::RTC_OK, ec_->deactivate_component(rtc_));
  EXPECT_EQ(RTC::RTC_OK, ec_->set_rate(500.0));
  until("on_rate_changed 0");
  EXPECT_EQ(RTC::RTC_OK, ec_->activate_component(rtc_));
  until("on_execute 0");
  EXPECT_EQ(RTC::RTC_OK, rtc_->exit());
  const std::vector<std::string> expected{
    "on_initialize", "on_startup 0",
    "on_activated 0", "on_execute 0", "on_state_update 0", "on_deactivated 0",
    "on_rate_changed 0",
    "on_activated 0", "on_execute 0", "on_deactivated 0", "on_shutdown 0", "on_finalize"};
  EXPECT_EQ(expected, until("on_finalize"));
  std::optional<int> status = host_->wait(20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << host_->errorOutput();
}

TEST_F(Callbacks, FailingExecuteGoesToErrorAndResetBringsItBack)
{
  // Returning an error and throwing any exception are the same failure.
  for (const char* failure : {"1", "throw"}) {
    SCOPED_TRACE(failure);
    seen_.clear();
    start(failure);
    EXPECT_EQ(RTC::RTC_OK, ec_->activate_component(rtc_));
    until("on_error 0");
    EXPECT_EQ(RTC::ERROR_STATE, ec_->get_component_state(rtc_));
    EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec_->activate_component(rtc_));
    EXPECT_EQ(RTC::RTC_OK, ec_->reset_component(rtc_));
    EXPECT_EQ(RTC::INACTIVE_STATE, ec_->get_component_state(rtc_));
    const std::vector<std::string> expected{
      "on_initialize", "on_startup 0", "on_activated 0", "on_execute 0", "on_aborting 0",
      "on_error 0", "on_reset 0"};
    EXPECT_EQ(expected, until("on_reset 0"));
    std::optional<int> status = host_->stop(SIGTERM, 20s);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << host_->errorOutput();
  }
}

TEST_F(Callbacks, AsynchronousTransitionsAreAnnouncedAndCarriedOut)
{
  start("0", {"-o", "exec_cxt.sync_transition:NO"});
  RTC::ExecutionContextProfile_var profile = ec_->get_profile();
  bool reportedAsync = false;
  for (CORBA::ULong i = 0; i < profile->properties.length(); ++i) {
    const char* value = nullptr;
    if (std::string(profile->properties[i].name) == "sync_transition" && (profile->properties[i].value >>= value))
      reportedAsync = std::string(value) == "NO";
  }
  EXPECT_TRUE(reportedAsync);
  EXPECT_EQ(RTC::RTC_OK, ec_->activate_component(rtc_));
  until("on_activated 0");
  EXPECT_TRUE(waitFor([&] { return ec_->get_component_state(rtc_) == RTC::ACTIVE_STATE; }, 10s));
  std::optional<int> status = host_->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << host_->errorOutput();
}

TEST_F(Callbacks, RatesThatAreNotRatesAreRefused)
{
  start("0");
  for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e9})
    EXPECT_EQ(RTC::BAD_PARAMETER, ec_->set_rate(bad)) << bad;
  EXPECT_EQ(1000.0, ec_->get_rate());
  EXPECT_EQ(RTC::RTC_OK, ec_->set_rate(250.0));
  EXPECT_EQ(250.0, ec_->get_rate());
  std::optional<int> status = host_->stop(SIGTERM, 20s);
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << host_->errorOutput();
}
