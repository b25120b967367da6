#include "render.h"

#include <cstring>
#include <string>
#include <vector>

namespace doctor {

namespace {

// A minimal writer for one JSON document: strings are escaped for JSON
// (control characters, and bytes that are not UTF-8 as \u00XX of Latin-1).
class Json {
 public:
  explicit Json(std::FILE *out) : out_(out) {}

  void open(char bracket) {
    comma();
    std::fputc(bracket, out_);
    first_ = true;
  }
  void close(char bracket) {
    std::fputc(bracket, out_);
    first_ = false;
  }
  void key(const char *name) {
    comma();
    string(name);
    std::fputc(':', out_);
    first_ = true;  // the value follows without a comma
  }
  void value(const std::string &text) {
    comma();
    string(text);
  }
  void value(const char *text) { value(std::string(text)); }
  void value(bool flag) {
    comma();
    std::fputs(flag ? "true" : "false", out_);
  }
  void value(long number) {
    comma();
    std::fprintf(out_, "%ld", number);
  }
  void null() {
    comma();
    std::fputs("null", out_);
  }
  template <typename T>
  void field(const char *name, const T &v) {
    key(name);
    value(v);
  }
  void field(const char *name, const std::vector<std::string> &lines) {
    key(name);
    open('[');
    for (const std::string &line : lines) value(line);
    close(']');
  }

 private:
  void comma() {
    if (!first_) std::fputc(',', out_);
    first_ = false;
  }
  void string(const std::string &text) {
    std::fputc('"', out_);
    for (std::size_t i = 0; i < text.size(); ++i) {
      unsigned char ch = static_cast<unsigned char>(text[i]);
      std::size_t run = utf8Length(text, i);
      if (ch == '"' || ch == '\\') {
        std::fputc('\\', out_);
        std::fputc(ch, out_);
      } else if (ch == '\n') {
        std::fputs("\\n", out_);
      } else if (ch == '\r') {
        std::fputs("\\r", out_);
      } else if (ch == '\t') {
        std::fputs("\\t", out_);
      } else if (ch < 0x20 || ch == 0x7f || (ch >= 0x80 && run == 0)) {
        std::fprintf(out_, "\\u%04x", ch);
      } else if (ch >= 0x80) {
        std::fwrite(text.data() + i, 1, run, out_);
        i += run - 1;
      } else {
        std::fputc(ch, out_);
      }
    }
    std::fputc('"', out_);
  }
  // Length of a well-formed UTF-8 sequence starting at i, 0 if there is none.
  static std::size_t utf8Length(const std::string &text, std::size_t i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t n = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (n == 0 || lead > 0xf4 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
    return n;
  }

  std::FILE *out_;
  bool first_ = true;
};

const char *stageName(Stage stage) {
  switch (stage) {
    case Stage::Bound: return "found";
    case Stage::NoInstance: return "no-instance";
    case Stage::PathTooLong: return "properties-path-too-long";
    case Stage::NoProperties: return "properties-unreadable";
    case Stage::HomeTooLong: return "home-too-long";
    case Stage::NotAccessible: return "backend-not-executable";
    case Stage::Other: return "failed";
  }
  return "failed";
}

void discovery(Json &j, const UserCheck &c, const std::string &registryOrigin) {
  const Facts &f = c.facts;
  j.open('{');
  j.field("user", c.run.user);
  j.field("uid", static_cast<long>(c.run.uid));
  j.field("result", stageName(f.stage));
  j.field("found", f.stage == Stage::Bound);
  j.key("registry");
  j.open('{');
  j.field("path", f.registry);
  j.field("origin", registryOrigin);
  j.close('}');
  j.key("instance");
  j.open('{');
  j.key("name");
  if (f.instanceOrigin.empty()) j.null(); else j.value(f.instance);
  j.key("origin");
  if (f.instanceOrigin.empty()) j.null(); else j.value(f.instanceOrigin);
  j.close('}');
  j.key("scan");
  if (!f.scanRan) {
    j.null();
  } else {
    j.open('{');
    j.field("directory", f.instancesDir);
    j.field("opened", f.scanOpened);
    if (!f.scanOpened) j.field("error", std::strerror(f.scanOpenErrno));
    j.field("instance001_has_agent", f.defaultProbeHit);
    j.key("entries");
    j.open('[');
    for (const ScanEntry &e : f.scan) {
      j.open('{');
      j.field("name", e.name);
      j.field("chosen", e.chosen);
      if (!e.chosen) j.field("reason", e.reason);
      j.close('}');
    }
    j.close(']');
    j.close('}');
  }
  j.field("properties", f.propertiesPath);
  j.field("home", f.home);
  j.field("base_dir", f.baseDir);
  j.key("backend");
  j.open('{');
  j.field("path", f.libraryPath);
  j.field("executable", f.libraryAccessible);
  j.close('}');
  std::vector<std::string> trace;
  for (const auto *lines : {&c.run.nameTrace, &c.run.scanTrace, &c.run.baseTrace})
    trace.insert(trace.end(), lines->begin(), lines->end());
  j.field("trace", trace);
  j.close('}');
}

}  // namespace

void renderJson(const Report &r, std::FILE *out) {
  Json j(out);
  j.open('{');
  j.field("binds", r.binds);
  j.field("verdict", r.binds ? "binds" : "does not bind");
  j.field("exit_code", static_cast<long>(r.binds ? 0 : 1));
  j.key("problems");
  j.open('[');
  for (const Problem &p : r.problems) {
    j.open('{');
    j.field("severity", severityName(p.severity));
    j.field("cause", p.cause);
    j.field("fix", p.fix);
    j.close('}');
  }
  j.close(']');
  j.key("vm_name");
  if (r.vmName.empty()) j.null(); else j.value(r.vmName);
  j.key("discovery");
  discovery(j, r.self, r.registryOrigin);
  j.key("as_user");
  if (r.asUserChecked) discovery(j, r.asUser, r.registryOrigin); else j.null();
  j.key("load");
  if (!r.load.attempted) {
    j.null();
  } else {
    j.open('{');
    j.field("path", r.load.path);
    j.field("found", r.load.found);
    j.field("loaded", r.load.loaded);
    if (!r.load.error.empty()) j.field("error", r.load.error);
    j.key("entry_points");
    j.open('[');
    for (const EntryPoint &e : r.load.entryPoints) {
      j.open('{');
      j.field("symbol", e.symbol);
      j.field("resolved", e.resolved);
      j.close('}');
    }
    j.close(']');
    j.close('}');
  }
  j.field("judged_for", r.dbUser);
  j.key("trace_file");
  j.open('{');
  j.field("state", r.traceFile.state);
  j.field("detail", r.traceFile.detail);
  j.close('}');
  j.key("markers");
  j.open('[');
  for (const Marker &m : r.markers) {
    j.open('{');
    j.field("path", m.path);
    j.field("entry_point", m.entryPoint);
    j.field("owner", m.ownerName);
    j.field("holds", m.holds);
    j.close('}');
  }
  j.close(']');
  j.close('}');
  std::fputc('\n', out);
}

}  // namespace doctor
