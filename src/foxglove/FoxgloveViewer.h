#ifndef FOXGLOVEVIEWER_H
#define FOXGLOVEVIEWER_H

#include "foxglove/FoxgloveMapFeed.h"

// One viewer's connection, as the endpoint's bookkeeping sees it; every
// call comes on the endpoint's network thread.
class FoxgloveViewer
{
public:
  virtual ~FoxgloveViewer() = default;
  // A new version for the viewer's subscriptions; it replaces any the
  // viewer has not started to receive yet.
  virtual void offer(const FoxgloveMapFeed::VersionPtr& version) = 0;
  // Ends the connection at once.
  virtual void close() = 0;
};

#endif // FOXGLOVEVIEWER_H
