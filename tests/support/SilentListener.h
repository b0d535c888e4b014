#ifndef TESTS_SUPPORT_SILENTLISTENER_H
#define TESTS_SUPPORT_SILENTLISTENER_H

// A TCP listener on 127.0.0.1 that lets connections in (the kernel
// completes them) and never reads or answers a byte: a peer that hangs.
class SilentListener
{
public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int port() const { return port_; }

private:
  int fd_ = -1;
  int port_ = 0;
};

#endif // TESTS_SUPPORT_SILENTLISTENER_H
