// korvent-map: stores a file as the grid map of a running KorventComp, or
// fetches the stored map into a file.  It finds the component in the name
// service and reaches the service through a connection on its "KorventPV"
// port, as any consumer would.
//
//   korvent-map [-n host:port] [-c name] set <width> <height> <file>
//   korvent-map [-n host:port] [-c name] get <file>
#include <Korvent.hh>
#include <RTC.hh>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sys/utsname.h>
#include <vector>

namespace
{
  int usage()
  {
    std::cerr << "usage: korvent-map [-n host:port] [-c name] set <width> <height> <file>\n"
                 "       korvent-map [-n host:port] [-c name] get <file>\n";
    return 2;
  }

  std::string defaultName()
  {
    utsname names;
    uname(&names);
    return std::string(names.nodename) + ".host_cxt/Korvent0.rtc";
  }

  // Connects to the component's service port alone, which publishes the
  // provider's reference in the connector profile; the connection is
  // removed again as soon as the reference is read.
  Korvent_ptr serviceOf(CORBA::ORB_ptr orb, RTC::RTObject_ptr component)
  {
    RTC::PortServiceList_var ports = component->get_ports();
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      RTC::ConnectorProfile profile;
      profile.name = "korvent-map";
      profile.connector_id = "";
      profile.ports.length(1);
      profile.ports[0] = RTC::PortService::_duplicate(ports[i]);
      if (ports[i]->connect(profile) != RTC::RTC_OK)
        continue;
      ports[i]->disconnect(profile.connector_id);
      for (CORBA::ULong p = 0; p < profile.properties.length(); ++p) {
        const char* ior = nullptr;
        if (std::string(profile.properties[p].name) == "port.Korvent.Korvent" &&
            (profile.properties[p].value >>= ior)) {
          CORBA::Object_var object = orb->string_to_object(ior);
          return Korvent::_narrow(object);
        }
      }
    }
    return Korvent::_nil();
  }
}

int main(int argc, char** argv)
{
  std::vector<char*> orbArgv{argv[0], const_cast<char*>("-ORBgiopMaxMsgSize"), const_cast<char*>("268435456")};
  int orbArgc = static_cast<int>(orbArgv.size());
  CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, orbArgv.data());

  std::string server = "127.0.0.1:2809";
  std::string name = defaultName();
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (std::string(argv[i]) == "-n")
      server = argv[i + 1];
    else if (std::string(argv[i]) == "-c")
      name = argv[i + 1];
    else
      return usage();
  }
  std::vector<std::string> args(argv + i, argv + argc);
  if (args.empty() || !((args[0] == "set" && args.size() == 4) || (args[0] == "get" && args.size() == 2)))
    return usage();

  try {
    CORBA::Object_var object = orb->string_to_object(("corbaname::" + server + "#" + name).c_str());
    RTC::RTObject_var component = RTC::RTObject::_narrow(object);
    Korvent_var service = serviceOf(orb, component);
    if (CORBA::is_nil(service)) {
      std::cerr << "korvent-map: " << name << " offers no Korvent service\n";
      return 1;
    }
    RTC::TimedOctetSeq map;
    if (args[0] == "set") {
      std::ifstream in(args[3], std::ios::binary);
      if (!in) {
        std::cerr << "korvent-map: cannot read " << args[3] << "\n";
        return 1;
      }
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      map.data.length(static_cast<CORBA::ULong>(bytes.size()));
      std::copy(bytes.begin(), bytes.end(), map.data.get_buffer());
      service->setGridMap(static_cast<CORBA::Short>(std::stoi(args[1])),
                          static_cast<CORBA::Short>(std::stoi(args[2])), map);
      std::cout << "stored " << bytes.size() << " bytes, " << args[1] << " x " << args[2] << "\n";
    }
    else {
      CORBA::Short width = 0, height = 0;
      service->getGridMap(width, height, map);
      std::ofstream out(args[1], std::ios::binary);
      out.write(reinterpret_cast<const char*>(map.data.get_buffer()), map.data.length());
      std::cout << "fetched " << map.data.length() << " bytes, " << width << " x " << height << "\n";
    }
  }
  catch (const CORBA::Exception& error) {
    std::cerr << "korvent-map: " << error._name() << "\n";
    return 1;
  }
  orb->destroy();
  return 0;
}
