// Throughput of the JSON library against RapidJSON and nlohmann on one large
// book-source file. Prints figures; asserts nothing.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <unistd.h>

#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

using Clock = std::chrono::steady_clock;
using U16Doc = rapidjson::GenericDocument<rapidjson::UTF16<char16_t>>;

int gRuns = 3;

size_t HeapInUse() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// Best time of gRuns runs of f, in seconds; setup/teardown run outside the clock.
double Best(const std::function<void()>& setup, const std::function<void()>& f,
            const std::function<void()>& teardown) {
  double best = 1e30;
  for (int i = 0; i < gRuns; ++i) {
    setup();
    auto t0 = Clock::now();
    f();
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    teardown();
    if (s < best) best = s;
  }
  return best;
}

bool FileExistsA(const std::string& n) {
  struct stat st;
  return stat(n.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadAll(const std::string& n) {
  std::ifstream f(n, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Row(const char* what, double sec, double mb) {
  std::printf("  %-52s %8.1f ms %8.1f MB/s\n", what, sec * 1000, mb / sec);
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  if (argc > 1) {
    file = argv[1];
  } else {
    std::string shared = TANVORK_SHARED_DIR;
    std::string gen = shared + "/tools/gen_sources.py";
    if (!FileExistsA(gen)) {
      std::printf("json_bench: %s is absent and no file was given; nothing to measure.\n",
                  gen.c_str());
      return 0;
    }
    std::string dir = TANVORK_BENCH_DATA;
    file = dir + "/sources50k.json";
    if (!FileExistsA(file)) {
      std::string cmd = "mkdir -p '" + dir + "' && python3 '" + gen +
                        "' --count 50000 --dup-ratio 0.3 --seed 1 -o '" + file + "'";
      std::printf("generating %s\n", file.c_str());
      if (std::system(cmd.c_str()) != 0 || !FileExistsA(file)) {
        std::printf("json_bench: could not generate the data file.\n");
        return 0;
      }
    }
  }
  if (argc > 2) gRuns = std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 1;

  const std::string bytes = ReadAll(file);
  const double mb = double(bytes.size()) / 1e6;
  std::printf("file %s: %.1f MB, best of %d runs\n", file.c_str(), mb, gRuns);

  // ---- this library
  JSONArray* doc = nullptr;
  String text;
  double tDecode = Best([] {}, [&] { text = DecodeUTF8(bytes.data(), int64_t(bytes.size())); },
                        [&] { text.clear(); text.shrink_to_fit(); });
  double tParse = Best(
      [&] { text = DecodeUTF8(bytes.data(), int64_t(bytes.size())); },
      [&] {
        doc = new JSONArray();
        doc->Decode(text);
      },
      [&] {
        delete doc;
        doc = nullptr;
      });
  double tKiv = Best([] {},
                     [&] {
                       String t = DecodeUTF8(bytes.data(), int64_t(bytes.size()));
                       doc = new JSONArray();
                       doc->Decode(t);
                     },
                     [&] {
                       delete doc;
                       doc = nullptr;
                     });
  text = DecodeUTF8(bytes.data(), int64_t(bytes.size()));
  size_t m0 = HeapInUse();
  doc = new JSONArray();
  doc->Decode(text);
  size_t kivMem = HeapInUse() - m0;
  int count = doc->Count();
  size_t outLen = 0;
  double tKivWrite = Best([] {}, [&] { outLen = doc->ToString(4, false).size(); }, [] {});
  delete doc;
  text.clear();
  text.shrink_to_fit();

  // ---- RapidJSON, UTF-8 bytes into a UTF-16 DOM
  std::unique_ptr<U16Doc> rd;
  double tRapid = Best([] {},
                       [&] {
                         rd = std::make_unique<U16Doc>();
                         rd->Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(bytes.c_str());
                       },
                       [&] { rd.reset(); });
  m0 = HeapInUse();
  rd = std::make_unique<U16Doc>();
  rd->Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(bytes.c_str());
  size_t rapidMem = HeapInUse() - m0;
  bool rapidOk = !rd->HasParseError();
  size_t rapidOut = 0;
  double tRapidWrite = Best([] {},
                            [&] {
                              rapidjson::GenericStringBuffer<rapidjson::UTF16<char16_t>> sb;
                              rapidjson::PrettyWriter<
                                  rapidjson::GenericStringBuffer<rapidjson::UTF16<char16_t>>,
                                  rapidjson::UTF16<char16_t>, rapidjson::UTF16<char16_t>>
                                  w(sb);
                              w.SetIndent(' ', 4);
                              rd->Accept(w);
                              rapidOut = sb.GetSize() / sizeof(char16_t);
                            },
                            [] {});
  rd.reset();

  // ---- nlohmann::ordered_json
  nlohmann::ordered_json nj;
  double tNlohmann = Best([] {}, [&] { nj = nlohmann::ordered_json::parse(bytes); },
                          [&] { nj = nullptr; });
  nj = nlohmann::ordered_json::parse(bytes);
  size_t nOut = 0;
  double tNlohmannWrite = Best([] {}, [&] { nOut = nj.dump(4).size(); }, [] {});
  nj = nullptr;

  std::printf("\nparse (%d sources)\n", count);
  Row("KivJson: DecodeUTF8 only", tDecode, mb);
  Row("KivJson: Decode into JSONArray only", tParse, mb);
  Row("KivJson: DecodeUTF8 + Decode", tKiv, mb);
  Row(rapidOk ? "RapidJSON: UTF-8 -> UTF-16 DOM" : "RapidJSON: UTF-8 -> UTF-16 DOM (PARSE ERROR)",
      tRapid, mb);
  Row("nlohmann::ordered_json::parse", tNlohmann, mb);
  std::printf("  time ratio KivJson/RapidJSON %.2f (goal <= 1.0), nlohmann/KivJson %.2f (goal >= 3)\n",
              tKiv / tRapid, tNlohmann / tKiv);

  std::printf("\nwrite, indent 4 (%zu / %zu / %zu units or bytes out)\n", outLen, rapidOut, nOut);
  Row("KivJson: ToString(4, false)", tKivWrite, mb);
  Row("RapidJSON: PrettyWriter UTF-16, indent 4", tRapidWrite, mb);
  Row("nlohmann: dump(4)", tNlohmannWrite, mb);
  std::printf("  throughput KivJson/RapidJSON %.2f (goal >= 0.7), KivJson/nlohmann %.2f\n",
              tRapidWrite / tKivWrite, tNlohmannWrite / tKivWrite);

  // ---- whole files
  const std::string outDir = TANVORK_BENCH_DATA;
  if (std::system(("mkdir -p '" + outDir + "'").c_str()) != 0) {
    std::printf("json_bench: cannot create %s\n", outDir.c_str());
    return 0;
  }
  const std::string out = outDir + "/json-bench-out.json";
  const String fileW = FromUtf8(file), outW = FromUtf8(out);
  std::unique_ptr<JSONArray> loaded;
  double tLoad = Best([] {},
                      [&] {
                        loaded = std::make_unique<JSONArray>();
                        loaded->LoadFromFile(fileW, teUnknown);
                      },
                      [&] { loaded.reset(); });
  double tRapidLoad = Best([] {},
                           [&] {
                             std::string b = ReadAll(file);
                             rd = std::make_unique<U16Doc>();
                             rd->Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(b.c_str());
                           },
                           [&] { rd.reset(); });
  double tNLoad = Best([] {},
                       [&] {
                         std::ifstream f(file, std::ios::binary);
                         nj = nlohmann::ordered_json::parse(f);
                       },
                       [&] { nj = nullptr; });

  loaded = std::make_unique<JSONArray>();
  loaded->LoadFromFile(fileW, teUnknown);
  double tSave = Best([] {}, [&] { loaded->SaveToFile(outW, 4, teUTF8, false); }, [] {});
  rd = std::make_unique<U16Doc>();
  rd->Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(bytes.c_str());
  auto rapidSave = [&](bool sync) {
    FILE* fp = std::fopen(out.c_str(), "wb");
    static char buf[65536];
    rapidjson::FileWriteStream os(fp, buf, sizeof buf);
    rapidjson::PrettyWriter<rapidjson::FileWriteStream, rapidjson::UTF16<char16_t>, rapidjson::UTF8<>>
        w(os);
    w.SetIndent(' ', 4);
    rd->Accept(w);
    os.Flush();
    std::fflush(fp);
    if (sync) fsync(fileno(fp));
    std::fclose(fp);
  };
  double tRapidSave = Best([] {}, [&] { rapidSave(false); }, [] {});
  double tRapidSaveSync = Best([] {}, [&] { rapidSave(true); }, [] {});
  rd.reset();
  nj = nlohmann::ordered_json::parse(bytes);
  double tNSave = Best([] {},
                       [&] {
                         std::ofstream f(out, std::ios::binary);
                         f << nj.dump(4);
                       },
                       [] {});
  nj = nullptr;

  std::unique_ptr<JSONArray> sorted;
  double tSort = Best(
      [&] {
        sorted = std::make_unique<JSONArray>();
        sorted->Decode(DecodeUTF8(bytes.data(), int64_t(bytes.size())));
      },
      [&] {
        sorted->Sort([](PJSONValue a, PJSONValue b) {
          return a->AsJsonObject()->GetString(u"bookSourceName").compare(
              b->AsJsonObject()->GetString(u"bookSourceName"));
        });
      },
      [&] { sorted.reset(); });
  // The same order with a comparison that reads the names in place.
  double tSortView = Best(
      [&] {
        sorted = std::make_unique<JSONArray>();
        sorted->Decode(DecodeUTF8(bytes.data(), int64_t(bytes.size())));
      },
      [&] {
        sorted->Sort([](PJSONValue a, PJSONValue b) {
          auto name = [](PJSONValue r) {
            PJSONValue n = r->AsJsonObject()->GetItem(u"bookSourceName");
            return n && n->Type() == jdtString
                       ? StringView(reinterpret_cast<const char16_t*>(n->ValueData()),
                                    n->ValueSize() / 2)
                       : StringView();
          };
          return name(a).compare(name(b));
        });
      },
      [&] { sorted.reset(); });
  std::remove(out.c_str());

  std::printf("\nwhole files\n");
  Row("KivJson: LoadFromFile(teUnknown)", tLoad, mb);
  Row("RapidJSON: read file + parse to UTF-16 DOM", tRapidLoad, mb);
  Row("nlohmann: parse from ifstream", tNLoad, mb);
  std::printf("  time ratio KivJson/RapidJSON %.2f (goal <= 1.0), nlohmann/KivJson %.2f (goal >= 3)\n",
              tLoad / tRapidLoad, tNLoad / tLoad);
  Row("KivJson: SaveToFile(4, teUTF8, no BOM), synced + renamed", tSave, mb);
  Row("RapidJSON: PrettyWriter UTF-8 to FILE*", tRapidSave, mb);
  Row("RapidJSON: PrettyWriter UTF-8 to FILE* + fsync", tRapidSaveSync, mb);
  Row("nlohmann: dump(4) to ofstream", tNSave, mb);
  std::printf("  time ratio KivJson/RapidJSON %.2f (with fsync %.2f; goal <= 1.0), nlohmann/KivJson %.2f (goal >= 3)\n",
              tSave / tRapidSave, tSave / tRapidSaveSync, tNSave / tSave);
  std::printf("  Sort of %d sources by bookSourceName: %.1f ms (GetString copies), %.1f ms (names read in place)\n",
              count, tSort * 1000, tSortView * 1000);

  std::printf("\nmemory the loaded tree adds\n");
  std::printf("  KivJson   %8.1f MB\n  RapidJSON %8.1f MB\n  ratio %.2f (goal <= 1.0)\n",
              double(kivMem) / 1e6, double(rapidMem) / 1e6, double(kivMem) / double(rapidMem));
  return 0;
}
