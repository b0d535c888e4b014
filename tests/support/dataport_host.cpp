// Hosts one component with data ports for tests in another process: "out"
// (TimedLong) writes 1, 2, 3, ... every 20 ms; every value read on "in"
// (TimedLong) is printed as "in <value>"; "text" is a TimedString InPort
// that nothing reads.  The component's IOR is printed first.
#include "ComponentHost.h"

#include <rtm/component/DataFlowComponentBase.h>
#include <rtm/dataports/InPort.h>
#include <rtm/manager/Manager.h>
#include <rtm/dataports/OutPort.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

namespace
{
  const char* hostProfile[] = {
    "implementation_id", "DataHost", "type_name", "DataHost", "description", "data port host",
    "version", "1.0.0", "vendor", "test", "category", "Test", ""};

  class DataHost : public RTC::DataFlowComponentBase
  {
  public:
    explicit DataHost(RTC::Manager* manager)
      : RTC::DataFlowComponentBase(manager), out_("out", written_), in_("in", read_), text_("text", unread_)
    {
      registerOutPort("out", out_);
      registerInPort("in", in_);
      registerInPort("text", text_);
    }

    RTC::ReturnCode_t onInitialize() override
    {
      writer_ = std::thread([this] { writeCounter(); });
      reader_ = std::thread([this] { printArrivals(); });
      return RTC::RTC_OK;
    }

    ~DataHost() override
    {
      stopping_ = true;
      if (writer_.joinable())
        writer_.join();
      if (reader_.joinable())
        reader_.join();
    }

  private:
    void writeCounter()
    {
      for (CORBA::Long value = 1; !stopping_; ++value) {
        written_.data = value;
        out_.write();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }

    void printArrivals()
    {
      while (!stopping_) {
        if (!in_.waitNew(std::chrono::milliseconds(50)))
          continue;
        while (in_.read())
          std::cout << "in " << read_.data << std::endl;
      }
    }

    RTC::TimedLong written_{};
    RTC::TimedLong read_{};
    RTC::TimedString unread_{};
    RTC::OutPort<RTC::TimedLong> out_;
    RTC::InPort<RTC::TimedLong> in_;
    RTC::InPort<RTC::TimedString> text_;
    std::atomic<bool> stopping_{false};
    std::thread writer_;
    std::thread reader_;
  };

  RTC::RTObject_impl* createHost(RTC::Manager* manager) { return new DataHost(manager); }
  void destroyHost(RTC::RTObject_impl* component) { delete component; }

  void initHost(RTC::Manager* manager)
  {
    createAndPrintComponent(manager, hostProfile, createHost, destroyHost);
  }
}

int main(int argc, char** argv)
{
  return runComponentHost(argc, argv, initHost);
}
