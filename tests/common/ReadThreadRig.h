#pragma once

#include "acquisition/AutoResetEvent.h"
#include "acquisition/SampleRing.h"

#include <QString>
#include <QTemporaryDir>

// What a read thread under test works with: an empty ring whose clock has started, the signal it
// gives when the pollers may begin, and a data file in a folder of its own.
struct ReadThreadRig {
  QTemporaryDir dir;
  SampleRing ring;
  AutoResetEvent readSignal;
  const QString path = dir.filePath("run.zvdat");

  ReadThreadRig() {
    ring.reset();
    ring.setStartTime();
  }
};
