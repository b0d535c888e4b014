// The order of a component's action callbacks as the execution context and
// the tools drive it, observed from another process.
#include "ChildProcess.h"
#include "GridMapClient.h"

#include <RTC.hh>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

using namespace std::chrono_literals;

namespace
{
  class Callbacks : public ::testing::Test
  {
  protected:
    void start(bool failExecute)
    {
      std::vector<std::string> argv{"/usr/bin/env", "-C", "/",
                                    std::string("RECORDER_FAIL_EXECUTE=") + (failExecute ? "1" : "0"),
                                    RECORDER_HOST_PATH, "-o", "naming.enable:NO",
                                    // generous: a loaded CI machine may be slow to schedule the context
                                    "-o", "exec_cxt.transition_timeout:5",
                                    "-o", "corba.endpoints:127.0.0.1:"};
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
  start(false);
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
  start(true);
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
