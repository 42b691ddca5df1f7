// Identification of the connected car: VIN and mileage from the access system, coding
// stamp (CPS) and variant from the head unit, with the check that the stamp belongs to
// the VIN. The window shows the progress and the values through TConnectView; what
// follows a connect (menus, partner check, the vehicle's history) is the window's part.
#pragma once

#include <string>

#include "headunit/head_unit_context.h"
#include "headunit/progress_view.h"

namespace headunit {

// What the connect shows while it runs. Texts are Windows-1252.
class TConnectView : public TProgressView {
 public:
  virtual void ShowVin(const std::string& vin) = 0;
  virtual void ShowMileage(const std::string& mileage) = 0;
  virtual void ShowHeadUnitType(const std::string& variant) = 0;
};

struct TConnectResult {
  bool runtimeReady = false;
  // The VIN as the last attempt read it (empty when it could not be read).
  std::string vin;
  // The error of the last job run (the last coding-stamp attempt).
  TApiError finalError;
};

// Runs the identification jobs and logs their outcome; a final error is logged too.
TConnectResult ConnectVehicle(THeadUnitContext& context, TConnectView& view);

}  // namespace headunit
