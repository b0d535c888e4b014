#include "rtm/Manager.h"

#include "rtm/ManagerConfig.h"
#include "rtm/MemoryPolicy.h"
#include "rtm/RTObject.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace RTC
{
  namespace
  {
    Manager* theManager = nullptr;

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

    // SIGINT and SIGTERM are taken by one thread and turned into an orderly
    // shutdown; every other thread, the ORB's included, has them blocked.
    void catchStopSignals(Manager& manager)
    {
      static sigset_t stopSignals;
      sigemptyset(&stopSignals);
      sigaddset(&stopSignals, SIGINT);
      sigaddset(&stopSignals, SIGTERM);
      pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
      std::thread([&manager] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        manager.terminate();
      }).detach();
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
    if (isYes(config_.getProperty("manager.memory.retain_large_buffers"), true))
      retainLargeBuffers();
    catchStopSignals(*this);

    std::vector<std::string> orbArgs = orbArguments(config_, argc, argv);
    std::vector<char*> orbArgv;
    bool tracing = false;
    for (std::string& a : orbArgs) {
      orbArgv.push_back(a.data());
      tracing = tracing || a.rfind("-ORBtrace", 0) == 0;
    }
    // The manager reports what goes wrong in one line of its own; the ORB's
    // log is for those who ask for it with -ORBtrace... options.
    if (!tracing)
      omniORB::setLogFunction([](const char*) {});
    int orbArgc = static_cast<int>(orbArgv.size());
    try {
      orb_ = CORBA::ORB_init(orbArgc, orbArgv.data());
      CORBA::Object_var root = orb_->resolve_initial_references("RootPOA");
      poa_ = PortableServer::POA::_narrow(root);
    }
    catch (const CORBA::Exception& error) {
      std::string endpoints = config_.getProperty("corba.endpoints");
      const std::string single = config_.getProperty("corba.endpoint");
      if (!single.empty())
        endpoints += (endpoints.empty() ? "" : ",") + single;
      fail(programName_, std::string("cannot start the ORB (") + error._name() +
                             (endpoints.empty() ? ")" : "); check the end points " + endpoints));
    }

    if (isYes(config_.getProperty("naming.enable"), true))
      naming_ = std::make_unique<NamingService>(orb_, splitList(config_.getProperty("corba.nameservers")),
                                                programName_,
                                                isYes(config_.getProperty("naming.update.enable"), true));
  }

  void Manager::setModuleInitProc(ModuleInitProc proc)
  {
    initProc_ = proc;
  }

  bool Manager::activateManager()
  {
    try {
      PortableServer::POAManager_var poaManager = poa_->the_POAManager();
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

  void Manager::terminate()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      terminating_ = true;
    }
    wake_.notify_all();
  }

  void Manager::runLoop()
  {
    using Clock = std::chrono::steady_clock;
    const bool refreshNames = naming_ && isYes(config_.getProperty("naming.update.enable"), true);
    double seconds = std::strtod(config_.getProperty("naming.update.interval", "10.0").c_str(), nullptr);
    if (!(seconds > 0.0))
      seconds = 10.0;
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const bool shutdownWhenEmpty = isYes(config_.getProperty("manager.shutdown_on_nortcs"), true);
    Clock::time_point nextRefresh = Clock::now() + interval;

    std::unique_lock<std::mutex> lock(mutex_);
    while (!terminating_) {
      auto woken = [this] { return terminating_ || !exited_.empty(); };
      if (refreshNames)
        wake_.wait_until(lock, nextRefresh, woken);
      else
        wake_.wait(lock, woken);
      if (terminating_)
        break;
      if (!exited_.empty()) {
        lock.unlock();
        deleteExited();
        lock.lock();
        if (components_.empty() && shutdownWhenEmpty)
          terminating_ = true;
        continue;
      }
      if (Clock::now() >= nextRefresh) {
        lock.unlock();
        naming_->refresh();
        lock.lock();
        nextRefresh = Clock::now() + interval;
      }
    }
    lock.unlock();

    shutdownComponents();
    if (naming_)
      naming_->unbindAll();
    orb_->shutdown(true);
    orb_->destroy();
  }

  void Manager::componentExited(RTObject_impl* component)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exited_.push_back(component);
    }
    wake_.notify_all();
  }

  void Manager::deleteExited()
  {
    std::vector<RTObject_impl*> exited;
    std::vector<Component> done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exited.swap(exited_);
      for (RTObject_impl* object : exited) {
        for (auto it = components_.begin(); it != components_.end(); ++it) {
          if (it->object == object) {
            done.push_back(*it);
            components_.erase(it);
            break;
          }
        }
      }
    }
    for (const Component& c : done) {
      if (naming_)
        for (const std::string& name : c.names)
          naming_->unbind(name);
      destroyComponent(c.object, *c.factory);
    }
  }

  void Manager::shutdownComponents()
  {
    for (RTObject_impl* component : getComponents())
      component->exit();
    deleteExited();
  }

  void Manager::destroyComponent(RTObject_impl* object, const Factory& factory)
  {
    object->waitUntilReleased();
    factory.destroy(object);
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
      destroyComponent(component, *factory);
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
