// The files of a simulated car in a test's own folder: the car file that libapi32.so
// reads (made current through EDIABAS_SIM) and the state file in which the simulated
// head unit keeps what it was sent.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace uitest {

// A car whose coding stamp belongs to its VIN and whose head unit acknowledges resets.
inline constexpr char StandardCar[] =
    "[G_CAS]\n"
    "FGNR = WBAPH71090A123456\n"
    "KILOMETERSTAND = 87412\n"
    "[G_MMI]\n"
    "VARIANTE = CIC_R\n"
    "CPS = A123456\n"
    "NR_BEREITSCHAFTSDIENST = 0800111\n"
    "NR_HEIMATHAENDLER = 0899999\n"
    "NR_PASSO = 0800222\n"
    "NR_HOTLINE = 0800333\n"
    "PARTNER_NAME = Autohaus Nord\n"
    "PARTNER_TELEPHONE = 0899999\n";

class TSimCarFiles {
 public:
  explicit TSimCarFiles(std::string folder) : carPath_(folder + "/car.ini"), statePath_(folder + "/car.state") {}

  // Writes the car file (the standard car followed by extra lines, which may add to
  // or repeat a section) and makes it the current car.
  void Write(const std::string& extra = "", const std::string& base = StandardCar) const {
    std::ofstream(carPath_, std::ios::binary | std::ios::trunc) << base << extra;
    ::setenv("EDIABAS_SIM", carPath_.c_str(), 1);
  }
  void WriteState(const std::string& text) const { std::ofstream(statePath_, std::ios::binary | std::ios::trunc) << text; }

  // The value of a key in the state file, empty when absent.
  std::string State(const std::string& key) const {
    std::ifstream in(statePath_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      std::size_t equals = line.find(" = ");
      if (equals != std::string::npos && line.substr(0, equals) == key) return line.substr(equals + 3);
    }
    return {};
  }
  bool HasState() const { return std::ifstream(statePath_).good(); }

  const std::string& CarPath() const { return carPath_; }
  const std::string& StatePath() const { return statePath_; }

 private:
  std::string carPath_;
  std::string statePath_;
};

}  // namespace uitest
