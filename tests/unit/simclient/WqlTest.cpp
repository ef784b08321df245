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

TEST(WqlTest, ComparisonsOnIntegersAndTexts) {
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateState <> 2"),
            (Ids{L"U1", L"It's \"quoted\""}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateState != 2"),
            (Ids{L"U1", L"It's \"quoted\""}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus >= 7"),
            (Ids{L"U1", L"u2"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus > 7"), (Ids{L"u2"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus < 13"), (Ids{L"U1"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus <= 13"),
            (Ids{L"U1", L"u2"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE 7 = UpdateStatus"), (Ids{L"U1"}));
  // Texts compare without regard to case.
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateId = 'u1'"), (Ids{L"U1"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateId > 'U1'"), (Ids{L"u2"}));
  // Backslash escapes inside either kind of quotes.
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateId = 'It\\'s \"quoted\"'"),
            (Ids{L"It's \"quoted\""}));
  EXPECT_EQ(
      Matching(L"SELECT * FROM C WHERE UpdateId = \"It's \\\"quoted\\\"\""),
      (Ids{L"It's \"quoted\""}));
  // A text constant against an integer property is read as a number.
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateState = '2'"), (Ids{L"u2"}));
}

TEST(WqlTest, NullNeverMatchesAComparison) {
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus <> 7"), (Ids{L"u2"}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus IS NULL"),
            (Ids{L"It's \"quoted\""}));
  EXPECT_EQ(Matching(L"SELECT * FROM C WHERE UpdateStatus IS NOT NULL"),
            (Ids{L"U1", L"u2"}));
}

TEST(WqlTest, LogicPrecedenceAndParentheses) {
  // AND binds tighter than OR.
  EXPECT_EQ(
      Matching(L"SELECT * FROM C WHERE UpdateState = 0 OR UpdateState = 1 "
               L"AND UpdateStatus = 7"),
      (Ids{L"U1"}));
  EXPECT_EQ(
      Matching(L"SELECT * FROM C WHERE (UpdateState = 0 OR UpdateState = 1) "
               L"AND UpdateStatus = 7"),
      (Ids{L"U1"}));
  EXPECT_EQ(
      Matching(L"SELECT * FROM C WHERE (UpdateState = 0 OR UpdateState = 2) "
               L"AND NOT UpdateStatus = 7"),
      (Ids{L"u2"}));
  EXPECT_EQ(
      Matching(
          L"SELECT * FROM C WHERE NOT (UpdateState = 0 OR UpdateState = 2)"),
      (Ids{L"It's \"quoted\""}));
  EXPECT_EQ(
      Matching(L"SELECT * FROM C WHERE ((UpdateId='U1') OR (UpdateId='U2'))"),
      (Ids{L"U1", L"u2"}));
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
  for (const wchar_t* text : {
           L"",
           L"SELECT",
           L"SELECT * FROM",
           L"SELECT FROM C",
           L"SELECT * C",
           L"SELECT * FROM C WHERE",
           L"SELECT * FROM C WHERE A =",
           L"SELECT * FROM C WHERE A = 'open",
           L"SELECT * FROM C WHERE (A = 1",
           L"SELECT * FROM C WHERE A = 1)",
           L"SELECT * FROM C WHERE A == 1",
           L"SELECT * FROM C WHERE 1 = 1",
           L"SELECT * FROM C WHERE A = 1 AND",
           L"SELECT A, FROM C",
           L"SELECT * FROM C extra",
           L"SELECT * FROM C WHERE A = 12abc",
           L"SELECT * FROM C WHERE A ~ 1",
           L"DELETE FROM C",
           L"SELECT * FROM WHERE",
       }) {
    WqlQuery query;
    EXPECT_EQ(WqlQuery::Parse(text, query), WBEM_E_INVALID_QUERY) << text;
  }
}

}  // namespace
