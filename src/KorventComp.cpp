// KorventComp: hosts one Korvent component until the manager shuts down.
#include "service/ExposureWarning.h"
#include "service/Korvent.h"
#include "web/MapHttpServer.h"
#include "ros2/Ros2Bridge.h"
#include "foxglove/FoxgloveServer.h"
#include "store/StartupMap.h"


#include <rtm/util/Logger.h>
#include <rtm/manager/ManagerConfig.h>
#include <rtm/manager/OrbRuntime.h>

// ACE's main wrapper only renames main on platforms whose ACE needs a
// non-static object manager; on Linux ACE's object manager is static and
// this header leaves main as it is: the wrapper is a no-op here.
#include <ace/OS_main.h>

#include <cstdlib>
#include <iostream>

namespace
{
  // A name server on another host hands this component's reference to
  // clients there; a reference to the loopback is useless to them.
  void warnWhenUnreachable(RTC::Manager& manager)
  {
    const RTC::Properties& config = manager.getConfig();
    if (!RTC::isYes(config.getProperty("naming.enable"), true))
      return;
    for (const std::string& address : manager.listeningAddresses())
      if (!RTC::isLoopbackAddress(address))
        return;
    for (const std::string& server : RTC::splitList(config.getProperty("corba.nameservers"))) {
      if (RTC::isLoopbackAddress(server.find(':') == std::string::npos ? server + ":" : server))
        continue;
      RTC::logger().warn("warning: registering with the name server " + server +
                         " on another host while listening only on the loopback: clients there cannot reach"
                         " this component (set corba.endpoints to an address they can reach)");
      return;
    }
  }
}

void initModule(RTC::Manager* manager)
{
  registerKorventFactory(manager);
  RTC::RTObject_impl* component = manager->createComponent("Korvent");
  if (component == nullptr) {
    std::cerr << "Component create failed." << std::endl;
    abort();
  }
}

namespace
{
  // The web view when it is configured; it only reads the map.
  std::unique_ptr<MapHttpServer> startWebView(const RTC::Properties& config)
  {
    const std::optional<HttpSettings> settings = httpSettingsOf(config);
    if (!settings)
      return nullptr;
    auto server = std::make_unique<MapHttpServer>(*settings, processGridMap());
    RTC::logger().info("web view at " + server->url());
    warnWhenExposed({server->address()}, "read the map",
                    "set korvent.http.endpoint to 127.0.0.1:<port> to restrict it");
    return server;
  }
}

namespace
{
  // The map on ROS 2's DDS when it is configured.
  std::unique_ptr<Ros2Bridge> startRos2(const RTC::Properties& config)
  {
    const std::optional<Ros2Settings> settings = ros2SettingsOf(config);
    if (!settings)
      return nullptr;
    auto bridge = std::make_unique<Ros2Bridge>(processGridMap(), *settings);
    RTC::logger().info("map on ROS 2 topic " + settings->topic + " in DDS domain " +
                       std::to_string(settings->domain) + (settings->localhostOnly ? ", this host only" : ""));
    return bridge;
  }
}

namespace
{
  // The map for Foxglove and Lichtblick when the endpoint is configured.
  std::unique_ptr<FoxgloveServer> startFoxglove(const RTC::Properties& config)
  {
    const std::optional<FoxgloveSettings> settings = foxgloveSettingsOf(config);
    if (!settings)
      return nullptr;
    auto server = std::make_unique<FoxgloveServer>(*settings, processGridMap());
    RTC::logger().info("Foxglove endpoint at " + server->url());
    warnWhenExposed({settings->host + ":" + std::to_string(settings->port)}, "read the map",
                    "set korvent.foxglove.endpoint to 127.0.0.1:<port> to restrict it");
    return server;
  }
}

int main(int argc, char** argv)
{
  RTC::Manager* manager = RTC::Manager::init(argc, argv);
  // A map server takes writes from anyone who reaches it: say so when that
  // is more than this machine.
  warnWhenExposed(manager->listeningAddresses(), "read and replace the map", "set corba.endpoints to restrict it");
  warnWhenUnreachable(*manager);
  ConfiguredStore durableMap;
  std::unique_ptr<MapHttpServer> webView;
  std::unique_ptr<Ros2Bridge> ros2;
  std::unique_ptr<FoxgloveServer> foxglove;
  try {
    durableMap = loadConfiguredMap(manager->getConfig());
    webView = startWebView(manager->getConfig());
    ros2 = startRos2(manager->getConfig());
    foxglove = startFoxglove(manager->getConfig());
  }
  catch (const std::runtime_error& error) {
    // Nothing is bound or written yet: end at once, without the exit
    // handlers that would race the ORB's threads.
    std::cerr << "KorventComp: " << error.what() << std::endl;
    std::_Exit(1);
  }
  // The store file gets the latest map before the shutdown can wait on
  // any peer, and again at its end.
  auto saveMap = [&durableMap]() -> std::string {
    const std::string error = durableMap.writer ? durableMap.writer->flush() : "";
    return error.empty() ? "" : "KorventComp: the latest map could not be made durable: " + error;
  };
  manager->setShutdownSave(saveMap);
  manager->setModuleInitProc(initModule);
  manager->activateManager();
  manager->runManager(false);
  webView.reset();  // before the store it reads goes with the process
  ros2.reset();
  foxglove.reset();
  if (const std::string unsaved = saveMap(); !unsaved.empty()) {
    // One line, and no second attempt from the writer's destructor.
    std::cerr << unsaved << std::endl;
    std::_Exit(1);
  }
  durableMap.writer.reset();
  return 0;
}
