#include "tests/simclient/Wql.h"

#include <wbemcli.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"

namespace {

using vpltest::sim::Scenario;
using vpltest::sim::SimInstance;
using vpltest::sim::WqlQuery;

// Instances of one class built through the scenario parser, so that values
// carry the schema's types.
std::vector<SimInstance> Requests() {
  const Scenario scenario = Scenario::Parse(R"({"namespaces": {"root\\x": {
    "CCM_TargetedUpdateEx1": [
      {"UpdateId": "U1", "UpdateStatus": 7, "UpdateState": 0},
      {"UpdateId": "u2", "UpdateStatus": 13, "UpdateState": 2},
      {"UpdateId": "It's \"quoted\"", "UpdateStatus": null, "UpdateState": 1}
    ]}}})",
                                            "test");
  return scenario.FindNamespace(L"root\\x")
      ->FindClass(L"CCM_TargetedUpdateEx1")
      ->instances;
}

std::vector<std::wstring> Matching(const std::wstring& text) {
  WqlQuery query;
  EXPECT_EQ(WqlQuery::Parse(text, query), S_OK) << text;
  std::vector<std::wstring> ids;
  for (const SimInstance& instance : Requests()) {
    if (query.Matches(instance))
      ids.push_back(instance.Find(L"UpdateId")->texts[0]);
  }
  return ids;
}

using Ids = std::vector<std::wstring>;

TEST(WqlTest, ParsesSelectListClassAndCondition) {
  WqlQuery query;
  ASSERT_EQ(WqlQuery::Parse(L"select UpdateId , UpdateStatus from "
                            L"CCM_TargetedUpdateEx1 where (UpdateState <> 2)",
                            query),
            S_OK);
  EXPECT_EQ(query.ClassName(), L"CCM_TargetedUpdateEx1");
  EXPECT_EQ(query.SelectedProperties(), (Ids{L"UpdateId", L"UpdateStatus"}));
  EXPECT_EQ(query.ReferencedProperties(),
            (Ids{L"UpdateId", L"UpdateStatus", L"UpdateState"}));
  ASSERT_EQ(WqlQuery::Parse(L"SELECT * FROM Win32_SystemEnclosure", query),
            S_OK);
  EXPECT_TRUE(query.SelectedProperties().empty());
}

TEST(WqlTest, ComparisonsNullAndLogic) {
  const Ids u1{L"U1"}, u2{L"u2"}, q{L"It's \"quoted\""}, both{L"U1", L"u2"};
  // clang-format off
  const struct { const wchar_t* where; Ids ids; } cases[] = {
      {L"UpdateState <> 2", {L"U1", q[0]}}, {L"UpdateState != 2", {L"U1", q[0]}},
      {L"UpdateStatus >= 7", both}, {L"UpdateStatus > 7", u2}, {L"UpdateStatus < 13", u1},
      {L"UpdateStatus <= 13", both}, {L"7 = UpdateStatus", u1},
      // Texts compare without regard to case; backslash escapes inside either
      // kind of quotes; a text constant against an integer is read as a number.
      {L"UpdateId = 'u1'", u1}, {L"UpdateId > 'U1'", u2}, {L"UpdateId = 'It\\'s \"quoted\"'", q},
      {L"UpdateId = \"It's \\\"quoted\\\"\"", q}, {L"UpdateState = '2'", u2},
      // Null never matches a comparison.
      {L"UpdateStatus <> 7", u2}, {L"UpdateStatus IS NULL", q}, {L"UpdateStatus IS NOT NULL", both},
      // AND binds tighter than OR.
      {L"UpdateState = 0 OR UpdateState = 1 AND UpdateStatus = 7", u1},
      {L"(UpdateState = 0 OR UpdateState = 1) AND UpdateStatus = 7", u1},
      {L"(UpdateState = 0 OR UpdateState = 2) AND NOT UpdateStatus = 7", u2},
      {L"NOT (UpdateState = 0 OR UpdateState = 2)", q},
      {L"((UpdateId='U1') OR (UpdateId='U2'))", both},
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(Matching(std::wstring(L"SELECT * FROM C WHERE ") + c.where),
              c.ids)
        << c.where;
}

// A query naming the key goes through the class's index; it must select
// what testing every instance selects, in the same order.
TEST(WqlTest, KeyIndexSelectsWhatAWalkSelects) {
  const Scenario scenario = Scenario::Parse(R"({"namespaces": {"root\\x": {
    "CCM_SoftwareDistribution": [
      {"ADV_AdvertisementID": "A1", "PRG_PRF_Disabled": false},
      {"ADV_AdvertisementID": "B2"},
      {"ADV_AdvertisementID": "a1", "PRG_PRF_Disabled": true},
      {"ADV_AdvertisementID": null}, {"PKG_PackageID": "P"},
      {"ADV_AdvertisementID": "A1", "PRG_PRF_Disabled": true}],
    "CCM_TargetedUpdateEx1": [{"UpdateId": "1"},
      {"UpdateId": {"cimType": "uint32", "value": 1}}]}}})",
                                            "test");
  const auto* ns = scenario.FindNamespace(L"root\\x");
  const auto& adverts = *ns->FindClass(L"CCM_SoftwareDistribution");
  const auto& updates = *ns->FindClass(L"CCM_TargetedUpdateEx1");
  ASSERT_TRUE(adverts.keyIndex.IsUsable());
  // A number compares by value, so that class is walked.
  EXPECT_FALSE(updates.keyIndex.IsUsable());
  const struct {
    const vpltest::sim::SimClass& simClass;
    const wchar_t* query;
    size_t expected;
  } kCases[] = {
      {adverts, L"SELECT * FROM C WHERE ADV_AdvertisementID = 'A1'", 3},
      {adverts, L"SELECT * FROM C WHERE adv_advertisementid = 'a1'", 3},
      {adverts, L"SELECT * FROM C WHERE 'b2' = ADV_AdvertisementID", 1},
      {adverts, L"SELECT * FROM C WHERE ADV_AdvertisementID = 'C3'", 0},
      {adverts, L"SELECT * FROM C WHERE ADV_AdvertisementID = ''", 0},
      {adverts,
       L"SELECT * FROM C WHERE PRG_PRF_Disabled = TRUE AND "
       L"ADV_AdvertisementID = 'A1'",
       2},
      {adverts, L"SELECT * FROM C WHERE ADV_AdvertisementID <> 'A1'", 1},
      {updates, L"SELECT * FROM C WHERE UpdateId = '1'", 2},
  };
  for (const auto& c : kCases) {
    WqlQuery query;
    ASSERT_EQ(WqlQuery::Parse(c.query, query), S_OK) << c.query;
    std::vector<const SimInstance*> walked;
    for (const SimInstance& instance : c.simClass.instances) {
      if (query.Matches(instance)) walked.push_back(&instance);
    }
    EXPECT_EQ(query.Select(c.simClass), walked) << c.query;
    EXPECT_EQ(walked.size(), c.expected) << c.query;
  }
}

TEST(WqlTest, MalformedQueriesAreInvalid) {
  // clang-format off
  for (const wchar_t* text : {
      L"", L"SELECT", L"SELECT * FROM", L"SELECT FROM C", L"SELECT * C", L"SELECT * FROM C WHERE",
      L"SELECT * FROM C WHERE A =", L"SELECT * FROM C WHERE A = 'open", L"SELECT * FROM C WHERE (A = 1",
      L"SELECT * FROM C WHERE A = 1)", L"SELECT * FROM C WHERE A == 1", L"SELECT * FROM C WHERE 1 = 1",
      L"SELECT * FROM C WHERE A = 1 AND", L"SELECT A, FROM C", L"SELECT * FROM C extra",
      L"SELECT * FROM C WHERE A = 12abc", L"SELECT * FROM C WHERE A ~ 1", L"DELETE FROM C", L"SELECT * FROM WHERE"
       }) {
    // clang-format on
    WqlQuery query;
    EXPECT_EQ(WqlQuery::Parse(text, query), WBEM_E_INVALID_QUERY) << text;
  }
}

}  // namespace
