#include "tool_runner.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace parse_logo_bin::testing {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

bool Outcome::operator==(const Outcome& other) const {
  return out == other.out && err == other.err && exit_code == other.exit_code &&
         signal == other.signal;
}

void PrintTo(const Outcome& outcome, std::ostream* os) {
  auto quoted = [](const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
      if (c == '\r')
        q += "\\r";
      else if (c == '\n')
        q += "\\n";
      else if (c == '"')
        q += "\\\"";
      else
        q += c;
    }
    return q + "\"";
  };
  *os << "{stdout " << quoted(outcome.out) << ", stderr "
      << quoted(outcome.err);
  if (outcome.signal != 0)
    *os << ", killed by signal " << outcome.signal;
  else
    *os << ", exit " << outcome.exit_code;
  *os << "}";
}

Outcome exited(int code, std::string out, std::string err) {
  return {std::move(out), std::move(err), code, 0};
}

Outcome killed_by(int signal, std::string out, std::string err) {
  return {std::move(out), std::move(err), -1, signal};
}

Snapshot snapshot(const std::string& dir) {
  Snapshot entries;
  for (const fs::directory_entry& entry :
       fs::recursive_directory_iterator(dir)) {
    std::string name = entry.path().lexically_relative(dir).generic_string();
    if (entry.is_symlink())
      entries[name] =
          "<symlink to " + fs::read_symlink(entry.path()).string() + ">";
    else if (entry.is_directory())
      entries[name] = "<directory>";
    else if (!entry.is_regular_file())
      entries[name] = "<special file>";
    else
      entries[name] = read_file(entry.path().string());
  }
  return entries;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("open " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.flush()) fail("write " + path);
}

std::string sample_bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace parse_logo_bin::testing
