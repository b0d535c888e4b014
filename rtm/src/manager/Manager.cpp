#include "rtm/manager/Manager.h"

#include "rtm/orb/ConnectionLimit.h"
#include "rtm/orb/LocalSocket.h"
#include "rtm/util/Logger.h"
#include "rtm/manager/ManagerConfig.h"
#include "rtm/manager/MemoryPolicy.h"
#include "rtm/util/NameFormat.h"
#include "rtm/orb/PeerCalls.h"
#include "rtm/component/RTObject.h"
#include "rtm/manager/ShutdownWatchdog.h"
#include "rtm/manager/StopSignals.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    using Clock = std::chrono::steady_clock;

    Manager* theManager = nullptr;

    // How often connectors are checked for peers that are gone.
    const std::chrono::seconds connectorSweepInterval{5};
    // How often exited components are checked for the ORB letting go.
    const std::chrono::milliseconds releaseCheckInterval{100};

    std::string baseName(const char* path)
    {
      const std::string p = path ? path : "rtc";
      const std::size_t slash = p.rfind('/');
      return slash == std::string::npos ? p : p.substr(slash + 1);
    }

    [[noreturn]] void fail(const std::string& program, const std::string& message)
    {
      std::cerr << program << ": " << message << std::endl;
      std::exit(1);
    }

    // "type?key=value&key=value" -> type, parameters.
    std::string splitCreationName(const std::string& name, Properties& parameters)
    {
      const std::size_t question = name.find('?');
      if (question == std::string::npos)
        return name;
      for (const std::string& pair : splitList(name.substr(question + 1), '&')) {
        const std::size_t equals = pair.find('=');
        if (equals != std::string::npos)
          parameters.setProperty(pair.substr(0, equals), pair.substr(equals + 1));
      }
      return name.substr(0, question);
    }

    std::string joined(const std::vector<std::string>& parts)
    {
      std::string text;
      for (const std::string& p : parts)
        text += (text.empty() ? "" : ", ") + p;
      return text;
    }
  }

  Manager* Manager::init(int argc, char** argv)
  {
    if (!theManager)
      theManager = new Manager(argc, argv);  // lives as long as the process
    return theManager;
  }

  Manager::Manager(int argc, char** argv)
    : programName_(baseName(argc > 0 ? argv[0] : nullptr))
  {
    try {
      config_ = loadManagerConfig(argc, argv);
    }
    catch (const ConfigError& error) {
      fail(programName_, error.what());
    }
    // Before any thread starts: the logger is then only ever read.
    try {
      logger().configure(config_, programName_);
    }
    catch (const ConfigError& error) {
      fail(programName_, error.what());
    }
    const std::vector<std::string> unused = unusedFrameworkKeys(config_);
    if (!unused.empty())
      logger().warn("warning: configuration keys not used here: " + joined(unused));

    // Everything below may start threads: signals are blocked first.
    catchStopSignals([this] { terminate(); }, [this](int signal) { endNow(signal); });
    setPeerCallTimeout(secondsSetting(config_, "corba.call_timeout"));
    const bool retainBuffers = isYes(config_.getProperty("manager.memory.retain_large_buffers"), true);
    if (retainBuffers)
      retainLargeBuffers();
    try {
      orb_ = std::make_unique<OrbRuntime>(config_, argc, argv);
    }
    catch (const ConfigError& error) {
      fail(programName_, error.what());
    }
    // Interceptors go in after ORB_init and before the POA lets calls in.
    auto whole = [this](const char* key) { return static_cast<std::size_t>(numericSetting(config_, key)); };
    limitIncomingConnections({whole("corba.max_connections"), whole("corba.max_connections_per_host"),
                              whole("corba.local.max_connections")});
    requestWatch_ = std::make_unique<RequestWatch>(
      RequestLimits{numericSetting(config_, "corba.request.min_rate"), secondsSetting(config_, "corba.request.grace"),
                    static_cast<std::uint64_t>(numericSetting(config_, "corba.memory.in_flight"))});
    replyWatch_ = std::make_unique<ReplyWatch>(
      ReplyLimits{numericSetting(config_, "corba.reply.min_rate"), secondsSetting(config_, "corba.reply.grace"),
                  static_cast<std::uint64_t>(numericSetting(config_, "corba.memory.replies"))});
    if (retainBuffers)
      memoryReleaser_ = std::make_unique<MemoryReleaser>(secondsSetting(config_, "manager.memory.release_after"));

    // Only once the ORB is up: a start-up that fails says one line, no more.
    logger().log(LogLevel::Info, [this] {
      const LocalSocketSettings local = localSocketSettings(config_);
      return "version " KORVENT_VERSION ", process " + std::to_string(getpid()) + ", listening on " +
             joined(listeningAddresses()) + (local.enabled ? " and the local socket " + local.socketPath : "");
    });

    if (isYes(config_.getProperty("naming.enable"), true))
      naming_ = std::make_unique<NamingService>(orb_->orb(), splitList(config_.getProperty("corba.nameservers")),
                                                isYes(config_.getProperty("naming.update.enable"), true));
  }

  void Manager::setModuleInitProc(ModuleInitProc proc)
  {
    initProc_ = proc;
  }

  bool Manager::activateManager()
  {
    try {
      PortableServer::POAManager_var poaManager = getPOA()->the_POAManager();
      poaManager->activate();
    }
    catch (const CORBA::Exception&) {
      return false;
    }
    if (initProc_)
      initProc_(this);
    for (const std::string& name : splitList(config_.getProperty("manager.components.precreate")))
      createComponent(name.c_str());
    return true;
  }

  void Manager::runManager(bool no_block)
  {
    if (no_block)
      std::thread([this] { runLoop(); }).detach();
    else
      runLoop();
  }

  void Manager::setShutdownSave(std::function<std::string()> save)
  {
    save_ = std::move(save);
  }

  void Manager::terminate()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      terminating_ = true;
    }
    wake_.notify_all();
  }

  void Manager::endNow(int signal)
  {
    // Ctrl-C twice: whatever the first shutdown waits for, end now, with
    // at most a short try at leaving the name servers clean.
    const int status = 128 + signal;
    const std::chrono::milliseconds grace(1000);
    ShutdownWatchdog lastResort(grace + std::chrono::milliseconds(500), status, "stopped");
    logger().warn("second stop signal: stopping at once");
    if (naming_) {
      ThreadCallDeadline deadline(grace);
      naming_->unbindAll();
    }
    _exit(status);
  }

  void Manager::runLoop()
  {
    const bool refreshNames = naming_ && isYes(config_.getProperty("naming.update.enable"), true);
    const auto namingInterval = secondsSetting(config_, "naming.update.interval");
    const bool shutdownWhenEmpty = isYes(config_.getProperty("manager.shutdown_on_nortcs"), true);
    Clock::time_point nextRefresh = Clock::now() + namingInterval;
    Clock::time_point nextSweep = Clock::now() + connectorSweepInterval;

    std::unique_lock<std::mutex> lock(mutex_);
    while (!terminating_) {
      Clock::time_point wakeAt = std::min(nextSweep, refreshNames ? nextRefresh : Clock::time_point::max());
      if (!retired_.empty())
        wakeAt = std::min(wakeAt, Clock::now() + releaseCheckInterval);
      wake_.wait_until(lock, wakeAt, [this] { return terminating_ || !exiting_.empty() || !exited_.empty(); });
      if (terminating_)
        break;
      lock.unlock();
      const bool someExited = handleExits();
      destroyReleased(false);
      if (refreshNames && Clock::now() >= nextRefresh) {
        naming_->refresh();
        nextRefresh = Clock::now() + namingInterval;
      }
      if (Clock::now() >= nextSweep) {
        for (RTObject_impl* component : getComponents())
          component->pruneDeadConnectors();
        nextSweep = Clock::now() + connectorSweepInterval;
      }
      lock.lock();
      if (shutdownWhenEmpty && someExited && components_.empty())
        terminating_ = true;
    }
    lock.unlock();
    shutdown();
  }

  void Manager::componentExiting(RTObject_impl* component)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exiting_.push_back(component);
    }
    wake_.notify_all();
  }

  void Manager::componentExited(RTObject_impl* component)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exited_.push_back(component);
    }
    wake_.notify_all();
  }

  bool Manager::handleExits()
  {
    std::vector<std::string> names;
    bool someExited = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (RTObject_impl* object : exiting_)
        for (Component& c : components_)
          if (c.object == object) {
            names.insert(names.end(), c.names.begin(), c.names.end());
            c.names.clear();
          }
      exiting_.clear();
      for (RTObject_impl* object : exited_) {
        for (auto it = components_.begin(); it != components_.end(); ++it) {
          if (it->object == object) {
            names.insert(names.end(), it->names.begin(), it->names.end());
            retired_.push_back(*it);
            components_.erase(it);
            someExited = true;
            break;
          }
        }
      }
      exited_.clear();
    }
    unbindNames(names);
    return someExited;
  }

  void Manager::unbindNames(const std::vector<std::string>& names)
  {
    if (!naming_)
      return;
    for (const std::string& name : names)
      naming_->unbind(name);
  }

  void Manager::destroyReleased(bool all)
  {
    std::vector<Component> done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = retired_.begin(); it != retired_.end();) {
        if (all || it->object->isReleased()) {
          done.push_back(*it);
          it = retired_.erase(it);
        }
        else {
          ++it;
        }
      }
    }
    for (const Component& c : done)
      c.factory->destroy(c.object);
  }

  void Manager::shutdown()
  {
    // Names are withdrawn while the components take leave of their peers;
    // each side's calls together end within one call timeout, whatever the
    // peers do.  Only a call the ORB itself cannot finish (a client that
    // stopped reading its reply) could hold the end up: the watchdog ends
    // the process then, with nothing destroyed under a running call.
    // What must survive the process is saved first, while nothing waits on
    // a peer yet; a map stored later is saved by the program at the end,
    // or by the watchdog if the end never comes.
    const std::chrono::milliseconds budget = peerCallTimeout();
    const auto transitions = secondsSetting(config_, "exec_cxt.transition_timeout");
    logger().info("shutting down");
    if (save_)
      save_();
    ShutdownWatchdog watchdog(budget + transitions + std::chrono::seconds(2), 0,
                              "warning: calls still in progress at shutdown were abandoned", save_);
    std::thread unbinder([this, budget] {
      ThreadCallDeadline deadline(budget);
      if (naming_)
        naming_->unbindAll();
    });
    {
      ThreadCallDeadline deadline(budget);
      for (RTObject_impl* component : getComponents())
        component->exit();
    }
    unbinder.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      retired_.insert(retired_.end(), components_.begin(), components_.end());
      components_.clear();
      exiting_.clear();
      exited_.clear();
    }
    // After this no call runs on any servant: every component can go.
    orb_->shutdown();
    destroyReleased(true);
    logger().info("shut down");
  }

  std::vector<RTObject_impl*> Manager::getComponents()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RTObject_impl*> objects;
    for (const Component& c : components_)
      objects.push_back(c.object);
    return objects;
  }

  bool Manager::registerFactory(Properties& profile, FactoryNew create, FactoryDelete destroy)
  {
    if (!create || !destroy || profile.getProperty("implementation_id").empty())
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& f : factories_)
      if (f->profile.getProperty("implementation_id") == profile.getProperty("implementation_id"))
        return false;
    factories_.push_back(std::make_unique<Factory>(Factory{profile, create, destroy}));
    return true;
  }

  std::string Manager::nextInstanceName(const Properties& profile)
  {
    const std::string type = profile.getProperty("type_name", profile.getProperty("implementation_id"));
    std::lock_guard<std::mutex> lock(mutex_);
    for (unsigned number = 0;; ++number) {
      const std::string candidate = type + std::to_string(number);
      bool taken = false;
      for (const Component& c : components_)
        taken = taken || c.object->getInstanceName() == candidate;
      if (!taken)
        return candidate;
    }
  }

  Properties Manager::componentProperties(const Factory& factory, const std::string& instanceName,
                                          const Properties& parameters) const
  {
    Properties props = factory.profile;
    // The manager's execution-context and naming settings win over the
    // profile's, and per-type then per-instance settings win over those.
    for (const std::string& key : config_.propertyNames())
      if (key.compare(0, 9, "exec_cxt.") == 0 || key.compare(0, 7, "naming.") == 0)
        props.setProperty(key, config_.getProperty(key));
    const std::string category = props.getProperty("category");
    props << config_.getNode(category + "." + props.getProperty("type_name"));
    props << config_.getNode(category + "." + instanceName);
    props << parameters;
    props.setProperty("instance_name", instanceName);
    return props;
  }

  RTObject_impl* Manager::createComponent(const char* name)
  {
    Properties parameters;
    const std::string type = splitCreationName(name ? name : "", parameters);
    const Factory* factory = nullptr;
    std::size_t instances = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& f : factories_)
        if (f->profile.getProperty("implementation_id") == type)
          factory = f.get();
      if (!factory)
        return nullptr;
      for (const Component& c : components_)
        instances += c.factory == factory ? 1 : 0;
    }
    const long maxInstances = std::strtol(factory->profile.getProperty("max_instance", "0").c_str(), nullptr, 10);
    if (maxInstances > 0 && instances >= static_cast<std::size_t>(maxInstances))
      return nullptr;

    const std::string instanceName = parameters.hasKey("instance_name")
                                         ? parameters.getProperty("instance_name")
                                         : nextInstanceName(factory->profile);
    const Properties props = componentProperties(*factory, instanceName, parameters);

    RTObject_impl* component = nullptr;
    try {
      component = factory->create(this);
    }
    catch (...) {
      return nullptr;
    }
    if (!component)
      return nullptr;
    component->setProperties(props);
    if (component->initialize() != RTC_OK) {
      // Nothing of it was ever published; the ORB lets go of it at once.
      std::lock_guard<std::mutex> lock(mutex_);
      retired_.push_back(Component{component, factory, {}});
      return nullptr;
    }

    Component entry{component, factory, {}};
    if (naming_) {
      RTObject_var reference = component->getObjRef();
      for (const std::string& format : splitList(props.getProperty("naming.formats"))) {
        const std::string boundName = formatName(format, props, config_.getProperty("manager.name"));
        naming_->bind(boundName, reference);
        entry.names.push_back(boundName);
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    components_.push_back(std::move(entry));
    return component;
  }
}
