// Loading many tiny sources as the collection does: the text is parsed, the
// sources are taken out of the parsed array and appended to the collection's
// array one by one. Prints the time per size, so that how it scales shows
// (the figures should grow linearly). Asserts nothing.
//   json_load_bench [counts...]   (default: 100000 400000 1000000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

String TinySources(int ACount) {
  String text = u"[";
  for (int i = 0; i < ACount; ++i) {
    if (i) text += u",\n";
    text += u"{\"bookSourceUrl\":\"http://s" + IntToStr(i) + u".example\",\"bookSourceName\":\"s" + IntToStr(i) +
            u"\"}";
  }
  return text + u"]";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i)
    if (std::atoi(argv[i]) > 0) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {100000, 400000, 1000000};
  std::printf("%10s %10s %10s %10s %12s\n", "sources", "parse ms", "append ms", "total ms", "ns/source");
  for (int n : counts) {
    const String text = TinySources(n);
    auto t0 = Clock::now();
    std::unique_ptr<JSONBase> parsed(JSONBase::Parser(text, true));
    const double parse = Seconds(t0);

    t0 = Clock::now();
    std::vector<int> all(size_t(parsed->Count()));
    for (int i = 0; i < parsed->Count(); ++i) all[size_t(i)] = i;
    JSONArray collection;
    for (JSONBase* source : parsed->ExtractItems(all)) collection.Add(source);
    const double append = Seconds(t0);
    if (collection.Count() != n) {
      std::printf("json_load_bench: %d sources loaded of %d\n", collection.Count(), n);
      return 1;
    }
    const double total = parse + append;
    std::printf("%10d %10.1f %10.1f %10.1f %12.1f\n", n, parse * 1e3, append * 1e3, total * 1e3, total * 1e9 / n);
  }
  return 0;
}
