// Running the real hdbtool binary in a test's own folder: its exit code and both output
// streams, and the small file helpers the tool tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "temp_dir.h"

namespace hdbtest {

struct ToolRun {
  int exitCode;  // -1 when the tool did not exit normally (a crash)
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Overwrites bytes of a file in place.
inline void Patch(const std::string& path, std::size_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Exactly one line on standard error, starting with the tool's name.
inline bool OneLineError(const ToolRun& r) {
  return r.exitCode > 0 && r.err.rfind("hdbtool: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1;
}

class ToolTest : public ::testing::Test {
 protected:
  // args is shell text; input, when given, is the tool's standard input.
  ToolRun Run(const std::string& args, const std::string& input = "") {
    const std::string out = dir_.File("out.txt"), err = dir_.File("err.txt"), in = dir_.File("in.txt");
    Write(in, input);
    const std::string cmd = std::string(HDBTOOL_PATH) + " " + args + " <" + in + " >" + out + " 2>" + err;
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }

  TempDir dir_;
  std::string db_ = dir_.File("Data.hdb");
};

}  // namespace hdbtest
