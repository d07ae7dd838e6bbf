// Throughput of the HTML-to-text renderer on generated pages of about 20 KB: paragraphs with
// entities and links, tables, lists, pre-formatted code, scripts and styles.
//
//   bench_html_text [benchmark flags]           run the benchmarks
//   bench_html_text --write-corpus=DIR [--documents=N]
//                                               write the same pages as DIR/page_NNNN.html
//   bench_html_text --render-files FILE...      render files in this process and report MB/s
//
// bench/compare_html_text.sh uses the last two to compare with other tools on the same files.
#include <benchmark/benchmark.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "format/html_text.h"

namespace {

constexpr int kDefaultDocuments = 200;
constexpr size_t kPageSize = 20000;

// Makes pages that look like reports and articles saved from the web.
// Joins the pieces in one buffer (GCC 12 misreports "literal" + std::string at -O2 and above).
template <typename... Pieces>
std::string Cat(const Pieces&... pieces) {
  std::string s;
  (s.append(pieces), ...);
  return s;
}

class PageGenerator {
 public:
  explicit PageGenerator(unsigned seed) : random_(seed) {}

  std::string Page(int number) {
    std::string page;
    page.reserve(kPageSize + 4096);
    page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += Cat("<title>Quarterly report ", std::to_string(number), " &ndash; ", Words(4),
                "</title>\n");
    page += kStyle;
    page += kScript;
    page += Cat("</head>\n<body>\n<div id=\"header\"><h1>", Words(5), "</h1>\n<ul class=\"nav\">");
    for (int i = 0; i < 8; ++i) {
      page += Cat("<li><a href=\"http://www.example.com/section/", std::to_string(i), "\">",
                  Words(2), "</a></li>");
    }
    page += "</ul></div>\n<div class=\"content\">\n";
    while (page.size() < kPageSize) Block(page);
    page +=
        "</div>\n<div id=\"footer\">&copy; 2008 Example Ltd. &mdash; all rights reserved. "
        "<a href='http://www.example.com/imprint'>Imprint</a></div>\n</body>\n</html>\n";
    return page;
  }

 private:
  static constexpr std::string_view kStyle =
      "<style type=\"text/css\">\n"
      "body { font-family: Verdana, Arial, sans-serif; font-size: 10pt; margin: 0 }\n"
      "#header { background: #336699; color: white; padding: 4px 10px }\n"
      "#header ul.nav li { display: inline; margin-right: 1em }\n"
      "table.data { border-collapse: collapse; width: 100% }\n"
      "table.data td, table.data th { border: 1px solid #ccc; padding: 2px 4px }\n"
      "pre { background: #f4f4f4; border: 1px dashed #999 }\n"
      ".note:before { content: \"<note>\"; }\n"
      "</style>\n";
  static constexpr std::string_view kScript =
      "<script type=\"text/javascript\">\n"
      "var pageTracker = { pages: [], add: function (p) { this.pages.push('<p>' + p + '</p>'); } "
      "};\n"
      "function toggle(id) { var e = document.getElementById(id);\n"
      "  if (e.style.display == 'none') { e.style.display = 'block'; } else { e.style.display = "
      "'none'; } }\n"
      "if (a < b && b > c) { document.write(\"<div class='x'>&amp;</div>\"); }\n"
      "</script>\n";

  std::string Word() {
    static constexpr std::string_view kWords[] = {
        "the",       "report",     "quarter",     "revenue",     "market",
        "customer",  "service",    "growth",      "analysis",    "product",
        "region",    "figures",    "results",     "team",        "project",
        "network",   "server",     "archive",     "search",      "document",
        "caf\u00e9", "na\u00efve", "M\u00fcller", "Stra\u00dfe", "r\u00e9sum\u00e9",
        "and",       "of",         "for",         "with",        "in",
        "a",         "to",         "is",          "was"};
    return std::string(kWords[random_() % std::size(kWords)]);
  }

  std::string Words(int count) {
    std::string s = Word();
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    for (int i = 1; i < count; ++i) s += Cat(" ", Word());
    return s;
  }

  int Between(int low, int high) { return low + static_cast<int>(random_() % (high - low + 1)); }

  std::string Sentence() {
    std::string s = Words(Between(5, 14));
    switch (random_() % 9) {
      case 0:
        s += Cat(" <b>", Words(2), "</b>");
        break;
      case 1:
        s += Cat(" <i>", Words(1), "</i> &amp; ", Word());
        break;
      case 2:
        s += Cat(" <a href=\"http://www.example.com/doc?id=", std::to_string(random_() % 10000),
                 "&amp;lang=en\">", Words(3), "</a>");
        break;
      case 3:
        s += Cat(" <a href=\"../archive/", Word(), ".htm\">", Words(2), "</a>");
        break;
      case 4:
        s += Cat(": &euro;&nbsp;", std::to_string(random_() % 100000), ",00 &lt;net&gt;");
        break;
      case 5:
        s += Cat(" &quot;", Words(2), "&quot; &#8211; &eacute;t&eacute; &#x263A;");
        break;
      case 6:
        s += Cat(" <img src=\"http://images.example.com/i", std::to_string(random_() % 100),
                 ".gif\" alt=\"", Words(2), "\" width=16 height=16>");
        break;
      case 7:
        s += Cat(" <span class=\"note\" style=\"color: #666\">", Words(3), "</span>");
        break;
      default:
        break;
    }
    return Cat(s, ". ");
  }

  void Block(std::string& page) {
    switch (random_() % 12) {
      case 0:
        page += Cat("<h2>", Words(Between(2, 6)), "</h2>\n");
        break;
      case 1:
      case 2:
      case 3:
        page += "<p>";
        for (int i = Between(3, 8); i > 0; --i) page += Sentence();
        page += "</p>\n";
        break;
      case 4:
      case 5: {
        int columns = Between(3, 6);
        page += "<table class=\"data\" cellspacing=0>\n<tr>";
        for (int c = 0; c < columns; ++c) page += Cat("<th>", Words(1), "</th>");
        page += "</tr>\n";
        for (int r = Between(3, 10); r > 0; --r) {
          page += "<tr>";
          page += Cat("<td>", Words(2), "</td>");
          for (int c = 1; c < columns; ++c) {
            page += Cat("<td align=right>", std::to_string(random_() % 100000), "</td>");
          }
          page += "</tr>\n";
        }
        page += "</table>\n";
        break;
      }
      case 6:
      case 7: {
        bool ordered = random_() % 2 == 0;
        page += ordered ? "<ol>\n" : "<ul>\n";
        for (int i = Between(3, 8); i > 0; --i) page += Cat("  <li>", Sentence(), "</li>\n");
        page += ordered ? "</ol>\n" : "</ul>\n";
        break;
      }
      case 8:
        page += Cat("<pre>\nfor (int i = 0; i &lt; n; ++i) {\n    total += row[i];   // ", Words(3),
                    "\n}\n</pre>\n");
        break;
      case 9:
        page += Cat("<!-- generated block ", std::to_string(random_()), " -->\n<blockquote>",
                    Sentence(), "<br>", Sentence(), "</blockquote>\n");
        break;
      case 10:
        page += Cat("<script>pageTracker.add('", Words(2),
                    "');</script>\n<div class=\"box\" "
                    "id=\"b",
                    std::to_string(random_() % 1000), "\" style=\"display: none\">", Sentence(),
                    "</div>\n");
        break;
      default:
        page +=
            Cat("<div class=\"media\"><object classid=\"clsid:D27CDB6E\" width=200 height=100>"
                "<param name=movie value=\"http://media.example.com/clip.swf\">"
                "<embed src=\"http://media.example.com/clip.swf\" width=200 height=100></embed>"
                "</object><br>",
                Words(4), "</div>\n");
        break;
    }
  }

  std::mt19937 random_;
};

std::vector<std::string> Corpus(int documents) {
  PageGenerator generator(20080303);
  std::vector<std::string> pages;
  for (int i = 0; i < documents; ++i) pages.push_back(generator.Page(i));
  return pages;
}

void RunOverCorpus(benchmark::State& state, auto render) {
  std::vector<std::string> corpus = Corpus(kDefaultDocuments);
  int64_t bytes = 0;
  for (auto _ : state) {
    for (const std::string& page : corpus) {
      std::string text = render(page);
      benchmark::DoNotOptimize(text);
      bytes += static_cast<int64_t>(page.size());
    }
  }
  state.SetBytesProcessed(bytes);
  state.counters["documents"] = static_cast<double>(corpus.size());
}

// One renderer for a whole run, as plain-text generation uses it.
void BM_HTML2Text(benchmark::State& state) {
  format::HtmlTextRenderer renderer;
  RunOverCorpus(state, [&renderer](const std::string& page) { return renderer.HTML2Text(page); });
}
BENCHMARK(BM_HTML2Text)->Unit(benchmark::kMillisecond);

// The one-shot function compiles the patterns on every call.
void BM_HTML2TextOneShot(benchmark::State& state) {
  RunOverCorpus(state, [](const std::string& page) { return format::HTML2Text(page); });
}
BENCHMARK(BM_HTML2TextOneShot)->Unit(benchmark::kMillisecond);

// The two stages on their own.
void BM_CleanUp(benchmark::State& state) {
  format::HtmlTextRenderer renderer;
  RunOverCorpus(state, [&renderer](const std::string& page) { return renderer.CleanUp(page); });
}
BENCHMARK(BM_CleanUp)->Unit(benchmark::kMillisecond);

void BM_RenderVisibleText(benchmark::State& state) {
  RunOverCorpus(state, [](const std::string& page) { return format::RenderVisibleText(page); });
}
BENCHMARK(BM_RenderVisibleText)->Unit(benchmark::kMillisecond);

int WriteCorpus(const std::string& folder, int documents) {
  std::vector<std::string> corpus = Corpus(documents);
  for (size_t i = 0; i < corpus.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/page_%04zu.html", i);
    std::ofstream file(folder + name, std::ios::binary);
    file << corpus[i];
    if (!file) {
      std::fprintf(stderr, "cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
  }
  return 0;
}

// Reads and renders each file once; reports the total in the form the comparison script reads.
int RenderFiles(const std::vector<std::string>& paths) {
  format::HtmlTextRenderer renderer;
  size_t bytes = 0;
  size_t characters = 0;
  auto start = std::chrono::steady_clock::now();
  for (const std::string& path : paths) {
    std::ifstream file(path, std::ios::binary);
    std::string html((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    bytes += html.size();
    characters += renderer.HTML2Text(html).size();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files=%zu bytes=%zu text_bytes=%zu seconds=%.6f mb_per_s=%.2f\n", paths.size(),
              bytes, characters, seconds, bytes / 1e6 / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus_folder;
  int documents = kDefaultDocuments;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with("--write-corpus=")) {
      corpus_folder = arg.substr(15);
    } else if (arg.starts_with("--documents=")) {
      documents = std::stoi(std::string(arg.substr(12)));
    } else if (arg == "--render-files") {
      return RenderFiles(std::vector<std::string>(argv + i + 1, argv + argc));
    }
  }
  if (!corpus_folder.empty()) return WriteCorpus(corpus_folder, documents);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
