#ifndef RTM_MANAGER_H
#define RTM_MANAGER_H

#include <omniORB4/CORBA.h>

#include "rtm/component/ComponentHost.h"
#include "rtm/manager/MemoryReleaser.h"
#include "rtm/manager/NamingService.h"
#include "rtm/manager/OrbRuntime.h"
#include "rtm/util/Properties.h"
#include "rtm/orb/ReplyWatch.h"
#include "rtm/orb/RequestWatch.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace RTC
{
  class RTObject_impl;

  // The process's one manager: component factories, the components it
  // created and their names, and the run loop that ends with a signal or
  // when the last component has exited.  Configuration, the ORB, naming,
  // signals and memory each live in a class of their own.
  class Manager : public ComponentHost
  {
  public:
    typedef void (*ModuleInitProc)(Manager* manager);
    typedef RTObject_impl* (*FactoryNew)(Manager* manager);
    typedef void (*FactoryDelete)(RTObject_impl* component);

    // Creates the manager from the command line (once; later calls return
    // the same manager).  A command line or configuration it cannot use is
    // reported on standard error and ends the process with status 1.
    static Manager* init(int argc, char** argv);

    void setModuleInitProc(ModuleInitProc proc);
    // Activates the POA manager, then calls the module init procedure once.
    bool activateManager();
    // false: runs the loop on this thread until shutdown; true: on a thread
    // of its own, returning at once.
    void runManager(bool no_block = false);
    // Asks the run loop to shut down; safe from any thread.
    void terminate();
    // What makes the program's state safe (a file written): called as the
    // shutdown begins, before anything that may wait on a peer, and, if the
    // shutdown then hangs on a peer, once more before the process is ended
    // (with status 1 and the reason when it returns one).  Returns an empty
    // string on success, else a one-line reason.
    void setShutdownSave(std::function<std::string()> save);

    bool registerFactory(Properties& profile, FactoryNew create, FactoryDelete destroy);
    // "type" or "type?key=value&...": null on any failure.
    RTObject_impl* createComponent(const char* name);
    std::vector<RTObject_impl*> getComponents();
    // The manager's configuration: defaults, rtc.conf, then the command line.
    const Properties& getConfig() const { return config_; }
    // Where the ORB accepts connections, "host:port".
    std::vector<std::string> listeningAddresses() const { return orb_->listeningAddresses(); }

    // ComponentHost
    CORBA::ORB_ptr getORB() override { return orb_->orb(); }
    PortableServer::POA_ptr getPOA() override { return orb_->poa(); }
    void componentExiting(RTObject_impl* component) override;
    void componentExited(RTObject_impl* component) override;

  private:
    struct Factory
    {
      Properties profile;
      FactoryNew create;
      FactoryDelete destroy;
    };
    struct Component
    {
      RTObject_impl* object;
      const Factory* factory;
      std::vector<std::string> names;
    };

    Manager(int argc, char** argv);
    void runLoop();
    bool handleExits();  // true when a component has finished exiting
    void unbindNames(const std::vector<std::string>& names);
    void shutdown();
    void destroyReleased(bool all);
    void endNow(int signal);
    std::string nextInstanceName(const Properties& profile);
    Properties componentProperties(const Factory& factory, const std::string& instanceName,
                                   const Properties& parameters) const;

    const std::string programName_;
    Properties config_;
    std::unique_ptr<MemoryReleaser> memoryReleaser_;
    std::unique_ptr<OrbRuntime> orb_;
    std::unique_ptr<RequestWatch> requestWatch_;  // stopped before the ORB goes
    std::unique_ptr<ReplyWatch> replyWatch_;      // likewise
    std::unique_ptr<NamingService> naming_;
    ModuleInitProc initProc_ = nullptr;
    std::function<std::string()> save_;  // set before the run loop starts

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::vector<std::unique_ptr<Factory>> factories_;
    std::vector<Component> components_;
    std::vector<RTObject_impl*> exiting_;
    std::vector<RTObject_impl*> exited_;
    std::vector<Component> retired_;  // exited; deleted once the ORB lets go of them
    bool terminating_ = false;
  };
}

#endif // RTM_MANAGER_H
