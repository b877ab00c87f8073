// The widget tests share one QApplication on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>

#include "transfer/register.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // The copy and import formats that stand on outside libraries, as the program registers them.
  vosk::RegisterTransferDrivers();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
