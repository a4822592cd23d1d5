// The device catalogue at scale: 100,000 devices under 2,000 vendors. Times
// the start-up load (the selection dialog's creation: read, drop empty lines,
// fill the vendor list, select the first device) and each keystroke of a
// keyword search in the shown dialog, against reading the same file into
// memory and splitting it into lines. Goal: each under 50 ms.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/Application.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Select.h"
#include "forms/MessageBoxes.h"
#include "platform/Files.h"
#include "platform/Hooks.h"

namespace {

constexpr int Vendors = 2000;
constexpr int DevicesPerVendor = 50;

std::string catalogueText() {
  std::mt19937 random(7);
  std::vector<int> order(Vendors);
  for (int i = 0; i < Vendors; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::string text = "Generated device list\r\n";
  char line[128];
  for (int v : order) {
    std::snprintf(line, sizeof line, "[Vendor %04d]\r\n", v);
    text += line;
    for (int d = 0; d < DevicesPerVendor; ++d) {
      const unsigned serial = random() % 1000000;
      std::snprintf(line, sizeof line, "V%04dD%06u=images\\v%04d_%02d.bin;%u;0x%02X\r\n", v, serial, v, d,
                    serial % 300, serial % 256);
      text += line;
    }
  }
  return text;
}

double msSince(const QElapsedTimer& timer) { return timer.nsecsElapsed() / 1e6; }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string dir = (std::filesystem::temp_directory_path() / "talvorin-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  SetModuleFileNameOverride(dir + "/Talvorin");
  std::filesystem::create_directories(dir + "/Devices");
  std::filesystem::create_directories(dir + "/programs");
  const std::string text = catalogueText();
  const std::string path = CataloguePath();
  ReplaceFileContents(path, text);
  TApplication application(argc, argv);
  SetMessageInterceptor([](const ShownMessage& m) { std::fprintf(stderr, "message: %s\n", m.text.c_str()); });
  const int runs = 11;

  std::vector<double> baseline;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    std::string data;
    ReadWholeFile(path, data);
    const CatalogueLineList lines = SplitCatalogueText(data);
    baseline.push_back(msSince(timer));
    if (lines.size() != Vendors * (DevicesPerVendor + 1) + 1) return 1;
  }
  const double base = median(baseline);

  std::vector<double> loads;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    TSelectForm form;
    loads.push_back(msSince(timer));
  }
  const double load = median(loads);
  // Once more with an empty line after every vendor: the load rewrites the file.
  std::string withEmpty = text;
  for (size_t at = withEmpty.find("\r\n["); at != std::string::npos; at = withEmpty.find("\r\n[", at + 4))
    withEmpty.insert(at + 2, "\r\n");
  ReplaceFileContents(path, withEmpty);
  QElapsedTimer rewriteTimer;
  rewriteTimer.start();
  { TSelectForm form; }
  const double rewriteLoad = msSince(rewriteTimer);

  TSelectForm form;
  form.show();
  QApplication::setActiveWindow(&form);
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  struct Search {
    const char* keyword;
    const char* what;
  };
  const Search searches[] = {
      {"v12", "matches many vendors"},
      {"zq9", "matches nothing: every line is tested"},
      {"vendor 0042", "narrows to one vendor"},
  };
  std::vector<double> keystrokes;
  std::printf("catalogue: %d vendors, %d devices, %zu bytes\n", Vendors, Vendors * DevicesPerVendor, text.size());
  for (const auto& search : searches) {
    std::vector<double> times;
    auto timed = [&](Qt::Key key, char c) {
      QElapsedTimer timer;
      timer.start();
      if (c) QTest::keyClick(form.SelectEdit, c);
      else QTest::keyClick(form.SelectEdit, key);
      QApplication::processEvents();
      times.push_back(msSince(timer));
    };
    for (const char* c = search.keyword; *c; ++c) timed(Qt::Key_unknown, *c);
    const int listed = form.ListBox1->Count();
    for (const char* c = search.keyword; *c; ++c) timed(Qt::Key_Backspace, 0);
    std::printf("keyword \"%s\" (%s, %d vendors listed): slowest keystroke %.2f ms, median %.2f ms\n",
                search.keyword, search.what, listed, *std::max_element(times.begin(), times.end()), median(times));
    keystrokes.insert(keystrokes.end(), times.begin(), times.end());
  }
  const double slowest = *std::max_element(keystrokes.begin(), keystrokes.end());

  // What a sorted list that takes one item at a time would cost for the vendors.
  CatalogueLineList lines = SplitCatalogueText(text);
  CatalogueEntryList vendors;
  FillVendorList(lines, vendors);
  QListWidget itemByItem;
  itemByItem.setSortingEnabled(true);
  itemByItem.show();
  QElapsedTimer oneByOne;
  oneByOne.start();
  for (const auto& vendor : vendors) itemByItem.addItem(QString::fromLocal8Bit(vendor.name));
  QApplication::processEvents();
  const double itemByItemMs = msSince(oneByOne);
  QElapsedTimer oneStep;
  oneStep.start();
  form.ListBox1->SetEntries(vendors);
  QApplication::processEvents();
  const double oneStepMs = msSince(oneStep);

  std::printf("read and split the file:      %.2f ms (median of %d)\n", base, runs);
  std::printf("start-up load:                %.2f ms (median of %d), ratio %.2f to read+split, goal under 50 ms\n",
              load, runs, load / base);
  std::printf("start-up load with rewrite:   %.2f ms (once), ratio %.2f\n", rewriteLoad, rewriteLoad / base);
  std::printf("keyword keystroke, slowest:   %.2f ms of %zu, ratio %.2f to read+split, goal under 50 ms\n", slowest,
              keystrokes.size(), slowest / base);
  std::printf("%d vendors into a sorted list: one step %.2f ms, item by item %.2f ms (%.1fx)\n", Vendors, oneStepMs,
              itemByItemMs, itemByItemMs / oneStepMs);
  std::printf("goal %s\n", load < 50 && slowest < 50 ? "met" : "MISSED");
  std::filesystem::remove_all(dir);
  return 0;
}
