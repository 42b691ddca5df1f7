#include "demo_data.h"

#include <algorithm>
#include <cassert>
#include <random>

#include "dbengine/tables/date_time_codec.h"
#include "store/service_status.h"
#include "store/service_table.h"

namespace hdbtool {

namespace {

// std::mt19937 gives the same numbers everywhere; the distributions of the standard
// library may not, so ranges are drawn by hand.
class TDraw {
 public:
  explicit TDraw(std::uint32_t seed) : engine_(seed) {}
  // A whole number in [low, high].
  int Between(int low, int high) {
    assert(low <= high);
    return low + static_cast<int>(engine_() % static_cast<std::uint32_t>(high - low + 1));
  }
  bool Chance(int percent) { return Between(1, 100) <= percent; }
  template <class T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Between(0, static_cast<int>(items.size()) - 1))];
  }

 private:
  std::mt19937 engine_;
};

constexpr std::uint32_t Seed = 20240611;
// VIN characters: digits and capitals without I, O and Q.
constexpr char VinCharacters[] = "ABCDEFGHJKLMNPRSTUVWXYZ0123456789";
constexpr char WorkshopAgent[] = "4711001";

// Item bits (service_items.h).
enum : int {
  EngineOil = 0,
  OilMicrofilter,
  AirCleaner,
  FuelFilter,
  SparkPlugs,
  FrontBrakePads,
  RearBrakePads,
  BrakeFluid,
  RecirculatedAirFilter,
  VehicleCheck,
  VehicleInspection,
  EmissionInspection,
  PreDelivery,
  RunningIn,
};

std::string DrawVin(TDraw& draw) {
  static const std::vector<std::string> makers = {"WBA", "WBS", "WBX", "WBY"};
  std::string vin = draw.Pick(makers);
  while (vin.size() < 11) vin.push_back(VinCharacters[draw.Between(0, sizeof VinCharacters - 2)]);
  while (vin.size() < static_cast<std::size_t>(store::VinLength)) vin.push_back(static_cast<char>('0' + draw.Between(0, 9)));
  return vin;
}

// The items of the n-th service (0 = the delivery) of a vehicle.
std::uint16_t DrawItems(TDraw& draw, int n, bool inspectionDue) {
  std::uint16_t items = 0;
  auto add = [&](int bit) { items |= static_cast<std::uint16_t>(1u << bit); };
  if (n == 0) {
    add(PreDelivery);
    if (draw.Chance(50)) add(VehicleCheck);
    return items;
  }
  if (n == 1 && draw.Chance(60)) add(RunningIn);
  add(EngineOil);
  if (draw.Chance(70)) add(OilMicrofilter);
  if (n % 2 == 0) add(AirCleaner);
  if (n % 3 == 0) add(RecirculatedAirFilter);
  if (n % 4 == 0) {
    add(FuelFilter);
    add(SparkPlugs);
  }
  if (draw.Chance(25)) add(FrontBrakePads);
  if (draw.Chance(15)) add(RearBrakePads);
  if (inspectionDue) {
    add(BrakeFluid);
    add(VehicleInspection);
    add(EmissionInspection);
  }
  if (draw.Chance(60)) add(VehicleCheck);
  return items;
}

}  // namespace

TDemoData MakeDemoData() {
  TDemoData data;
  data.Workshop = {"Demo Autoservice", "030 1234567", "Germany", "Berlin", "Hauptstrasse 12", WorkshopAgent,
                   "service@example.com", "www.example.com"};
  TDraw draw(Seed);
  const std::vector<std::string> otherAgents = {"1000243", "1000517", "2207001", "3140090", "5500018", "A7X0031"};
  const std::int32_t firstDay = hdb::EncodeDayNumber(2010, 1, 1);
  const std::int32_t lastDay = hdb::EncodeDayNumber(2025, 5, 31);

  while (data.Vins.size() < DemoVehicleCount) {
    std::string vin = DrawVin(draw);
    if (std::find(data.Vins.begin(), data.Vins.end(), vin) != data.Vins.end()) continue;
    data.Vins.push_back(vin);
    std::int32_t day = firstDay + draw.Between(0, 365 * 12);
    std::int64_t mileage = draw.Between(5, 60);
    const int services = draw.Between(3, 14);
    std::int32_t lastInspection = day;
    for (int n = 0; n < services && day <= lastDay; ++n) {
      const bool inspectionDue = day - lastInspection >= 2 * 365;
      if (inspectionDue) lastInspection = day;
      TDemoRecord r;
      r.Vin = vin;
      r.Date = day;
      r.Mileage = mileage;
      r.Dealer = draw.Chance(70) ? 1 : 0;
      r.Agent = r.Dealer == 1 && draw.Chance(60) ? WorkshopAgent : draw.Pick(otherAgents);
      const int late = draw.Between(1, 100);
      const std::uint16_t status =
          late <= 80 ? store::StatusCarriedOut : late <= 93 ? store::StatusCarriedOutLate : store::StatusOverdue;
      r.Status = store::PackServiceStatus(status, DrawItems(draw, n, inspectionDue && n > 0));
      assert(store::IsStorableStatus(r.Status));
      data.Records.push_back(r);
      day += n == 0 ? draw.Between(90, 200) : draw.Between(240, 520);
      mileage += n == 0 ? draw.Between(1500, 4000) : draw.Between(9000, 31000);
    }
  }

  // The car in the workshop: the vehicle with the longest history.
  std::size_t best = 0, bestCount = 0;
  for (std::size_t v = 0; v < data.Vins.size(); ++v) {
    const std::size_t count = static_cast<std::size_t>(std::count_if(
        data.Records.begin(), data.Records.end(), [&](const TDemoRecord& r) { return r.Vin == data.Vins[v]; }));
    if (count > bestCount) best = v, bestCount = count;
  }
  data.CarVehicle = best;
  std::int64_t lastMileage = 0;
  for (const TDemoRecord& r : data.Records)
    if (r.Vin == data.Vins[best]) lastMileage = std::max(lastMileage, r.Mileage);
  data.CarMileage = lastMileage + draw.Between(2000, 9000);
  return data;
}

std::string DemoCarFile(const TDemoData& data) {
  const std::string& vin = data.Vins[data.CarVehicle];
  // The head unit's coding stamp is the end of the VIN it was coded for.
  const std::string cps = vin.substr(vin.size() - 7);
  return "# The simulated car of the demo folder (made by hdbtool demo): one of the vehicles\n"
         "# in Data.hdb, standing in the workshop. See ediabas-sim/sample-car.ini for every key.\n"
         "\n"
         "[G_CAS]\n"
         "VARIANTE = CAS4\n"
         "FGNR = " + vin + "\n"
         "KILOMETERSTAND = " + std::to_string(data.CarMileage) + "\n"
         "\n"
         "[G_MMI]\n"
         "VARIANTE = CIC_R\n"
         "CPS = " + cps + "\n"
         "RESET_RESPONSE = 0x51\n"
         "IDENT_SILENT_AFTER_RESET = 1\n"
         "NR_BEREITSCHAFTSDIENST = 08001234567\n"
         "NR_HEIMATHAENDLER = 0891234567\n"
         "NR_PASSO = 08009876543\n"
         "NR_HOTLINE = 0800555444\n"
         // The car comes from another workshop: its partner data differ from the settings.
         "PARTNER_NAME = Autohaus Nord\n"
         "PARTNER_STREET = Hafenstrasse 4\n"
         "PARTNER_CITY = Hamburg\n"
         "PARTNER_COUNTRY = Germany\n"
         "PARTNER_TELEPHONE = 0891234567\n";
}

}  // namespace hdbtool
