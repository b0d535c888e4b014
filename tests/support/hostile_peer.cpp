// Port servants that misbehave, for testing what a provider port does with
// them.  Usage: hostile_peer MODE [ARGS] [ORB options]; prints one IOR per
// servant; all but the accepting ports then print one line per
// notify_connect they receive ("notify_connect N").
//   accept N          N ports that accept every connection
//   hang              a port whose notify_connect/notify_disconnect never return
//   pingpong          notify_connect hands the same profile back to every other
//                     port in it (notify_connect)
//   pingpong-connect  the same, but through connect
//   connect IOR N     N accepting ports, each connected to the port IOR;
//                     prints "connected K" with the number that succeeded
#include "OrbServer.h"

#include <RTC.hh>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
  enum class Mode { Accept, Hang, PingPong, PingPongConnect };

  std::mutex outputMutex;
  std::atomic<int> notifications{0};

  void say(const std::string& line)
  {
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << line << std::endl;
  }

  [[noreturn]] void blockForever()
  {
    for (;;)
      std::this_thread::sleep_for(std::chrono::hours(1));
  }

  class PeerPort : public virtual POA_RTC::PortService
  {
  public:
    explicit PeerPort(Mode mode) : mode_(mode) {}
    void setSelf(RTC::PortService_ptr self) { self_ = RTC::PortService::_duplicate(self); }

    RTC::PortProfile* get_port_profile() override { return new RTC::PortProfile; }
    RTC::ConnectorProfileList* get_connector_profiles() override { return new RTC::ConnectorProfileList; }
    RTC::ConnectorProfile* get_connector_profile(const char*) override { return new RTC::ConnectorProfile; }
    RTC::ReturnCode_t connect(RTC::ConnectorProfile&) override { return RTC::RTC_ERROR; }
    RTC::ReturnCode_t disconnect(const char*) override { return RTC::RTC_OK; }
    RTC::ReturnCode_t disconnect_all() override { return RTC::RTC_OK; }

    RTC::ReturnCode_t notify_connect(RTC::ConnectorProfile& profile) override
    {
      // An accepting port stays silent: its output may never be read.
      if (mode_ != Mode::Accept)
        say("notify_connect " + std::to_string(++notifications));
      switch (mode_) {
        case Mode::Accept:
          return RTC::RTC_OK;
        case Mode::Hang:
          blockForever();
        case Mode::PingPong:
        case Mode::PingPongConnect:
          break;
      }
      RTC::ReturnCode_t result = RTC::RTC_OK;
      for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
        if (profile.ports[i]->_is_equivalent(self_))
          continue;
        try {
          result = mode_ == Mode::PingPong ? profile.ports[i]->notify_connect(profile)
                                           : profile.ports[i]->connect(profile);
        }
        catch (const CORBA::Exception&) {
          result = RTC::RTC_ERROR;
        }
      }
      return result;
    }

    RTC::ReturnCode_t notify_disconnect(const char*) override
    {
      if (mode_ == Mode::Hang)
        blockForever();
      return RTC::RTC_OK;
    }

  private:
    const Mode mode_;
    RTC::PortService_var self_;
  };

  std::vector<std::unique_ptr<PeerPort>> ports;

  RTC::PortService_ptr activate(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa, Mode mode, bool print)
  {
    ports.push_back(std::make_unique<PeerPort>(mode));
    PortableServer::ObjectId_var id = poa->activate_object(ports.back().get());
    CORBA::Object_var object = poa->id_to_reference(id);
    RTC::PortService_ptr reference = RTC::PortService::_narrow(object);
    ports.back()->setSelf(reference);
    if (print) {
      CORBA::String_var ior = orb->object_to_string(reference);
      say(ior.in());
    }
    return reference;
  }

  void connectAll(CORBA::ORB_ptr orb, PortableServer::POA_ptr poa, const std::string& providerIor, int count)
  {
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();  // the provider calls back while we connect
    CORBA::Object_var object = orb->string_to_object(providerIor.c_str());
    RTC::PortService_var provider = RTC::PortService::_narrow(object);
    int connected = 0;
    for (int i = 0; i < count; ++i) {
      RTC::PortService_var mine = activate(orb, poa, Mode::Accept, false);
      RTC::ConnectorProfile profile;
      profile.name = "dying";
      profile.connector_id = "";
      profile.ports.length(2);
      profile.ports[0] = RTC::PortService::_duplicate(provider);
      profile.ports[1] = RTC::PortService::_duplicate(mine);
      try {
        connected += provider->connect(profile) == RTC::RTC_OK ? 1 : 0;
      }
      catch (const CORBA::Exception&) {
      }
    }
    say("connected " + std::to_string(connected));
  }
}

int main(int argc, char** argv)
{
  if (argc < 2) {
    std::cerr << "usage: hostile_peer accept N | hang | pingpong | pingpong-connect | connect IOR N\n";
    return 2;
  }
  const std::string mode = argv[1];
  std::vector<std::string> rest(argv + 2, argv + argc);
  auto countAt = [&](std::size_t i) { return i < rest.size() ? std::atoi(rest[i].c_str()) : 1; };
  return runOrbServer(argc, argv, [&](CORBA::ORB_ptr orb, PortableServer::POA_ptr poa) {
    if (mode == "accept") {
      for (int i = 0; i < countAt(0); ++i)
        CORBA::release(activate(orb, poa, Mode::Accept, true));
    }
    else if (mode == "hang") {
      CORBA::release(activate(orb, poa, Mode::Hang, true));
    }
    else if (mode == "pingpong" || mode == "pingpong-connect") {
      CORBA::release(activate(orb, poa, mode == "pingpong" ? Mode::PingPong : Mode::PingPongConnect, true));
    }
    else if (mode == "connect" && !rest.empty()) {
      connectAll(orb, poa, rest[0], countAt(1));
    }
    else {
      std::cerr << "hostile_peer: unknown mode " << mode << '\n';
      std::exit(2);
    }
  });
}
