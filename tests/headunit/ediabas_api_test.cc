// The runtime binding: without a library, with a library that lacks the entry points,
// with one that overfills what it reports, and the parameter texts it hands over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headunit/ediabas_api.h"
#include "headunit/ediabas_entry_points.h"
#include "headunit/partner_data.h"

namespace {

using headunit::TEdiabasApi;

void ExpectEveryWrapperEmpty(TEdiabasApi& api) {
  EXPECT_FALSE(api.ApiInit());
  api.ApiJob("G_MMI", "ident", "", "");
  api.ApiEnd();
  EXPECT_EQ(api.ApiResultText("JOB_STATUS", 1), "");
  EXPECT_TRUE(api.ApiResultBinary("_RESPONSE", 1).empty());
  headunit::TApiError error = api.ApiErrorCode();
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(error.text, "");
}

TEST(EdiabasApi, WithoutLibraryEveryWrapperDoesNothing) {
  TEdiabasApi api;
  EXPECT_FALSE(api.LoadRuntimeLibrary("libapi32-absent.so"));
  EXPECT_FALSE(api.RuntimeLoaded());
  std::vector<std::string> jobs;
  api.SetCallTrace([&](const headunit::TApiCall& call) {
    if (call.kind == headunit::TApiCallKind::Job) jobs.push_back(call.sgbd + " " + call.job);
    if (call.kind == headunit::TApiCallKind::Init) jobs.push_back("init");
    if (call.kind == headunit::TApiCallKind::End) jobs.push_back("end");
  });
  ExpectEveryWrapperEmpty(api);
  EXPECT_EQ(jobs, (std::vector<std::string>{"init", "G_MMI ident", "end"}));
}

TEST(EdiabasApi, LibraryWithoutTheEntryPointsIsHarmless) {
  TEdiabasApi api;
  ASSERT_TRUE(api.LoadRuntimeLibrary("libz.so.1"));
  EXPECT_FALSE(api.RuntimeLoaded());
  EXPECT_EQ(api.LoadError(), "libz.so.1 has no entry point __apiInit");
  ExpectEveryWrapperEmpty(api);
}

TEST(EdiabasApi, ClampsWhatACarelessRuntimeReports) {
  TEdiabasApi api;
  ASSERT_TRUE(api.LoadRuntimeLibrary("libcareless_runtime.so"));
  ASSERT_TRUE(api.ApiInit());
  api.ApiJob("G_MMI", "ident", "", "");  // no __apiJob: nothing runs, nothing breaks
  EXPECT_EQ(api.ApiResultText("X", 1), std::string(headunit::ResultTextBufferSize - 1, 'R'));
  std::vector<unsigned char> binary = api.ApiResultBinary("X", 1);
  EXPECT_EQ(binary.size(), headunit::ResultBinaryBufferSize);
  headunit::TApiError error = api.ApiErrorCode();
  EXPECT_EQ(error.code, 7);
  EXPECT_EQ(error.text, std::string(headunit::ErrorTextCapacity, 'X'));
}

TEST(PartnerData, BlockAndTelephoneParameterAreSplicedAsTheUnitExpects) {
  headunit::TPartnerData partner{"Auto Service", "030123", "Germany", "Berlin", "Main Street 1"};
  EXPECT_EQ(headunit::PartnerBlock(partner), "ID;0xD0D5;Auto Service;Main Street 1;Berlin;Germany;030123;;Auto Service;;;");
  EXPECT_EQ(headunit::PartnerBlock({}), "ID;0xD0D5;;;;;;;;;;");
  headunit::TTelephoneNumbers numbers{"0800111", "0899999", "0800222", "0800333"};
  EXPECT_EQ(headunit::TelephoneNumbersParameter(numbers, "030123"), "0800111 ;030123;0800222 ;0800333 ;");
  // The longest block the settings can produce.
  headunit::TPartnerData longest{std::string(30, 'N'), std::string(12, 'T'), std::string(20, 'C'),
                                 std::string(20, 'c'), std::string(30, 'S')};
  EXPECT_EQ(headunit::PartnerBlock(longest).size(), 161u);
}

}  // namespace
