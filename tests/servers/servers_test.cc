#include "servers/servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/test_support.h"
#include "fixture.h"

namespace servers {
namespace {

using common::testing::CatchError;

using testing::kSrv01;
using testing::kSrv02;
using testing::kSrv03;

class ServersTest : public testing::ServersFixture {
 protected:
  std::vector<std::int32_t> Ids(const Servers& servers) {
    std::vector<std::int32_t> ids;
    for (const auto& server : servers) ids.push_back(server->ServerID());
    return ids;
  }
};

TEST_F(ServersTest, WithoutAnyKeyTheListIsEmptyAndTheFirstAddIssuesOne) {
  Answering("SRV01");
  Servers servers(MakeContext());
  EXPECT_EQ(servers.Count(), 0);
  EXPECT_FALSE(KeyExists(kServerListKey));

  std::shared_ptr<Server> added = servers.Add(kSrv01);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->ServerID(), 1);
  EXPECT_TRUE(added->Connected());
  EXPECT_EQ(LastServerId(), 1);
  EXPECT_EQ(StoredData(kServerListKey, kLastServerIdValue).type, platform::kRegDword);
  EXPECT_EQ(StoredConnectionString(1), kSrv01);
  EXPECT_EQ(StoredData(RegistrationKey(1), kConnectionStringValue).type, platform::kRegSz);
  EXPECT_EQ(StoredPosition(1), 1);
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_EQ(servers.Item("1"), added);
  EXPECT_EQ(servers.Item(1), added);
  // Registering sends no SQL; it only opens the connection.
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(ServersTest, LoadSortsByStoredPositionAndRenumbersWithoutGaps) {
  Answering("SRV01");
  Store(4, kSrv01, 7);
  Store(9, kSrv01, 2);
  Store(2, kSrv01, 30);
  Store(5, kSrv01, 3);
  Servers servers(MakeContext());
  EXPECT_EQ(Ids(servers), (std::vector<std::int32_t>{9, 5, 4, 2}));
  EXPECT_EQ(StoredPosition(9), 1);
  EXPECT_EQ(StoredPosition(5), 2);
  EXPECT_EQ(StoredPosition(4), 3);
  EXPECT_EQ(StoredPosition(2), 4);
  std::int32_t expected = 0;
  for (const auto& server : servers) EXPECT_EQ(server->OrdinalPosition(), ++expected);
}

TEST_F(ServersTest, AMissingPositionBecomesTheEnumerationIndex) {
  Answering("SRV01");
  // Positions 3, 0, 3: the second key takes its index, 2, and sorts first.
  Store(1, kSrv01, 3);
  Store(2, kSrv01, 0);
  Store(3, kSrv01, 3);
  Servers servers(MakeContext());
  std::vector<std::int32_t> ids = Ids(servers);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(StoredPosition(2), 1);
  // The two equal positions come in either order, but the stored positions follow the list.
  EXPECT_EQ(StoredPosition(ids[1]), 2);
  EXPECT_EQ(StoredPosition(ids[2]), 3);
  std::vector<std::int32_t> rest{ids[1], ids[2]};
  std::sort(rest.begin(), rest.end());
  EXPECT_EQ(rest, (std::vector<std::int32_t>{1, 3}));
}

TEST_F(ServersTest, LoadConnectsEveryRegistrationAndListsUnreachableOnesToo) {
  Answering("SRV01");
  Silent("SRV02");
  Store(1, kSrv01, 1);
  Store(2, kSrv02, 2);
  Servers servers(MakeContext());
  ASSERT_EQ(servers.Count(), 2);
  EXPECT_TRUE(servers.Item(1)->Connected());
  EXPECT_FALSE(servers.Item(2)->Connected());
  EXPECT_EQ(servers.Item(2)->Name(), "SRV02\\ARCHIVE");
  // One echo per registration, to the machine; only the answering one was connected.
  ASSERT_EQ(platform_.network.echo_calls().size(), 2u);
  EXPECT_EQ(platform_.network.echo_calls()[1].machine, "SRV02");
  EXPECT_EQ(platform_.network.echo_calls()[1].timeout_ms, 500);
  ASSERT_EQ(fake_->connects().size(), 1u);
  EXPECT_EQ(fake_->connects()[0].data_source, "SRV01");
  EXPECT_TRUE(log_->Texts().empty());
}

TEST_F(ServersTest, ALoadTheCallerConnectsListsEveryRegistrationUntriedAndSendsNothing) {
  Answering("SRV01");
  Silent("SRV02");
  Store(1, kSrv01, 1);
  Store(2, kSrv02, 2);
  Servers servers(MakeContext(), ConnectAtLoad::kByCaller);
  ASSERT_EQ(servers.Count(), 2);
  EXPECT_TRUE(platform_.network.echo_calls().empty());
  EXPECT_TRUE(fake_->connects().empty());
  for (const auto& server : servers) {
    EXPECT_FALSE(server->ConnectTried());
    EXPECT_FALSE(server->Connected());
  }
  // The caller's connect is the one a load in turn makes: echo first, then the login.
  EXPECT_TRUE(servers.Item(1)->Connect());
  EXPECT_FALSE(servers.Item(2)->Connect());
  EXPECT_TRUE(servers.Item(2)->ConnectTried());
  ASSERT_EQ(platform_.network.echo_calls().size(), 2u);
  ASSERT_EQ(fake_->connects().size(), 1u);
  EXPECT_EQ(fake_->connects()[0].data_source, "SRV01");
}

TEST_F(ServersTest, AMissingConnectionStringLoadsAsTheTextZero) {
  WriteNumber(registry_, RegistrationKey(3), kOrdinalPositionValue, 1);
  Servers servers(MakeContext());
  ASSERT_EQ(servers.Count(), 1);
  EXPECT_EQ(servers.Item(1)->ConnectionString(), "0");
  EXPECT_EQ(StoredConnectionString(3), "0");
  EXPECT_FALSE(servers.Item(1)->Connected());
  EXPECT_FALSE(servers.Item(1)->Description().empty());
}

TEST_F(ServersTest, SubkeysThatAreNotIdentifiersAreLeftAlone) {
  Answering("SRV01");
  Store(2, kSrv01, 1);
  for (const char* name : {"abc", "007", "-1", "2x", "99999999999"}) {
    registry_.SetSectionKey(std::string(kServerListKey) + "\\" + name);
    registry_.CreateKey();
  }
  Servers servers(MakeContext());
  EXPECT_EQ(Ids(servers), (std::vector<std::int32_t>{2}));
  // "007" is not registration 7: no key 7 appears, and nothing is written into the others.
  EXPECT_FALSE(KeyExists(RegistrationKey(7)));
  EXPECT_FALSE(HasValue(std::string(kServerListKey) + "\\007", kOrdinalPositionValue));
  EXPECT_FALSE(HasValue(std::string(kServerListKey) + "\\abc", kConnectionStringValue));
}

TEST_F(ServersTest, ExpandableStringsOfEarlierVersionsAreExpandedAndStoredPlain) {
  Answering("SRV01");
  platform_.environment.Set("ARCHIVE_HOST", "SRV01");
  registry_.SetSectionKey(RegistrationKey(1));
  registry_.CreateKey();
  std::string raw = "Provider=SQLOLEDB;Data Source=%ARCHIVE_HOST%;Integrated Security=SSPI";
  platform::RegistryData data{platform::kRegExpandSz, common::Bytes(raw.begin(), raw.end())};
  data.bytes.push_back(0);
  platform_.registry.SetValue(platform::kHkeyCurrentUser, RegistrationKey(1),
                              kConnectionStringValue, data);
  Servers servers(MakeContext());
  ASSERT_EQ(servers.Count(), 1);
  EXPECT_EQ(servers.Item(1)->ConnectionString(),
            "Provider=SQLOLEDB;Data Source=SRV01;Integrated Security=SSPI");
  EXPECT_TRUE(servers.Item(1)->Connected());
  EXPECT_EQ(StoredData(RegistrationKey(1), kConnectionStringValue).type, platform::kRegSz);
}

TEST_F(ServersTest, PercentSignsInANewConnectionStringAreKeptAsData) {
  Answering("SRV01");
  platform_.environment.Set("PW", "expanded");
  std::string text = "Provider=SQLOLEDB;Data Source=SRV01;User Id=sa;Password=a%PW%b";
  {
    Servers servers(MakeContext());
    ASSERT_NE(servers.Add(text), nullptr);
  }
  EXPECT_EQ(StoredData(RegistrationKey(1), kConnectionStringValue).type, platform::kRegSz);
  Servers reloaded(MakeContext());
  EXPECT_EQ(reloaded.Item(1)->ConnectionString(), text);
}

TEST_F(ServersTest, AddReturnsTheRegistrationAStoredStringBeginsWith) {
  Answering("SRV01");
  Servers servers(MakeContext());
  std::shared_ptr<Server> first = servers.Add(kSrv01);
  ASSERT_NE(first, nullptr);
  std::string upper = kSrv01;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(servers.Add(upper), first);
  EXPECT_EQ(servers.Add("provider=sqloledb;data source=SRV0"), first);
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_EQ(LastServerId(), 1);
  EXPECT_FALSE(KeyExists(RegistrationKey(2)));
  // A longer string is not a prefix of the stored one: a new registration.
  Answering("SRV01");
  EXPECT_NE(servers.Add(std::string(kSrv01) + ";Application Name=x"), first);
  EXPECT_EQ(LastServerId(), 2);
}

TEST_F(ServersTest, AServerThatDoesNotAnswerStaysRegisteredForTheNextLoad) {
  Answering("SRV01");
  Silent("SRV02");
  Servers servers(MakeContext());
  ASSERT_NE(servers.Add(kSrv01), nullptr);
  EXPECT_EQ(servers.Add(kSrv02), nullptr);
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_EQ(LastServerId(), 2);
  EXPECT_EQ(StoredConnectionString(2), kSrv02);
  EXPECT_EQ(StoredPosition(2), 2);

  Servers reloaded(MakeContext());
  EXPECT_EQ(Ids(reloaded), (std::vector<std::int32_t>{1, 2}));
  EXPECT_FALSE(reloaded.Item("2")->Connected());
}

TEST_F(ServersTest, RefusedCredentialsReturnNothingAndKeepTheEntries) {
  Answering("SRV02");
  fake_->AcceptLogin("sa", "other");
  Servers servers(MakeContext());
  EXPECT_EQ(servers.Add(kSrv02), nullptr);
  EXPECT_EQ(servers.Count(), 0);
  EXPECT_EQ(StoredConnectionString(1), kSrv02);
}

TEST_F(ServersTest, AnEmptyStringAsksForAConnection) {
  Answering("SRV03");
  Servers servers(MakeContext());
  platform_.ui.QueueDataLink(std::string(kSrv03));
  std::shared_ptr<Server> added = servers.Add("");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->ConnectionString(), kSrv03);
  EXPECT_EQ(platform_.ui.data_link_prompts(), 1);
  EXPECT_EQ(servers.Count(), 1);
}

TEST_F(ServersTest, ACancelledPromptGivesAnUnlistedRegistrationAndWritesNothing) {
  Answering("SRV01");
  Servers servers(MakeContext());
  ASSERT_NE(servers.Add(kSrv01), nullptr);
  for (std::optional<std::string> answer :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    platform_.ui.QueueDataLink(answer);
    std::shared_ptr<Server> fresh = servers.Add("");
    ASSERT_NE(fresh, nullptr);
    // An empty answer must not match every registration as a prefix.
    EXPECT_EQ(fresh->ServerID(), 0);
    EXPECT_FALSE(fresh->Connected());
    EXPECT_EQ(fresh->ConnectionString(), "");
  }
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_EQ(LastServerId(), 1);
  EXPECT_FALSE(KeyExists(RegistrationKey(0)));
}

TEST_F(ServersTest, RemovalKeepsLastServerIdSoIdentifiersAreNeverReused) {
  Answering("SRV01");
  Servers servers(MakeContext());
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(servers.Add(std::string(kSrv01) + ";Workstation ID=W" + std::to_string(i)), nullptr);
  }
  std::shared_ptr<Server> second = servers.Item("2");
  ASSERT_EQ(second->Connection().State(), db::kStateOpen);
  servers.Remove("2");
  EXPECT_EQ(second->Connection().State(), db::kStateClosed);
  EXPECT_FALSE(KeyExists(RegistrationKey(2)));
  EXPECT_EQ(servers.Count(), 2);
  EXPECT_EQ(LastServerId(), 3);
  // The others keep their positions until the next load.
  EXPECT_EQ(StoredPosition(3), 3);

  std::shared_ptr<Server> fourth = servers.Add(std::string(kSrv01) + ";Workstation ID=W4");
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(fourth->ServerID(), 4);
  EXPECT_EQ(Ids(servers), (std::vector<std::int32_t>{1, 3, 4}));

  servers.Remove(1);
  EXPECT_EQ(Ids(servers), (std::vector<std::int32_t>{3, 4}));
  // Registration 4 was given position 3 (Count + 1) beside registration 3's: the next load
  // lists them in either order, but numbers them 1 and 2.
  EXPECT_EQ(StoredPosition(4), 3);
  Servers reloaded(MakeContext());
  std::vector<std::int32_t> ids = Ids(reloaded);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::int32_t>{3, 4}));
  EXPECT_EQ(reloaded.Item(1)->OrdinalPosition(), 1);
  EXPECT_EQ(reloaded.Item(2)->OrdinalPosition(), 2);
}

TEST_F(ServersTest, UnknownKeysAndPositionsRaiseTheLookupErrorAndChangeNothing) {
  Answering("SRV01");
  Store(1, kSrv01, 1);
  Servers servers(MakeContext());
  EXPECT_EQ(CatchError([&] { servers.Item("9"); }).number(), kErrUnknownKey);
  EXPECT_EQ(CatchError([&] { servers.Item(" 1"); }).number(), kErrUnknownKey);
  EXPECT_EQ(CatchError([&] { servers.Item(0); }).number(), kErrPositionOutOfRange);
  EXPECT_EQ(CatchError([&] { servers.Item(2); }).number(), kErrPositionOutOfRange);
  common::Error error = CatchError([&] { servers.Remove("x'; DROP --"); });
  EXPECT_EQ(error.number(), kErrUnknownKey);
  EXPECT_NE(error.description().find("x'; DROP --"), std::string::npos);
  EXPECT_EQ(servers.Count(), 1);
  EXPECT_TRUE(KeyExists(RegistrationKey(1)));
}

TEST_F(ServersTest, MovingARegistrationShiftsTheOnesInBetween) {
  Answering("SRV01");
  for (int id = 1; id <= 5; ++id) Store(id, kSrv01, id);
  Servers servers(MakeContext());
  servers.Item("4")->SetOrdinalPosition(2);
  EXPECT_EQ(StoredPosition(1), 1);
  EXPECT_EQ(StoredPosition(2), 3);
  EXPECT_EQ(StoredPosition(3), 4);
  EXPECT_EQ(StoredPosition(4), 2);
  EXPECT_EQ(StoredPosition(5), 5);

  // Downwards, and beyond the end: the last position.
  servers.Item("1")->SetOrdinalPosition(40);
  EXPECT_EQ(StoredPosition(1), 5);
  EXPECT_EQ(StoredPosition(4), 1);
  EXPECT_EQ(StoredPosition(2), 2);
  EXPECT_EQ(StoredPosition(3), 3);
  EXPECT_EQ(StoredPosition(5), 4);

  // The same position writes nothing: a store that refuses writes is not even asked.
  platform_.registry.FailOperation(platform::RegistryOperation::kSetValue,
                                   platform::kErrorAccessDenied, -1);
  EXPECT_NO_THROW(servers.Item("3")->SetOrdinalPosition(3));

  common::Error error = CatchError([&] { servers.Item("3")->SetOrdinalPosition(0); });
  EXPECT_EQ(error.number(), 5);
  EXPECT_EQ(StoredPosition(3), 3);
}

TEST_F(ServersTest, ALostCounterNeverHandsOutTheKeyOfAnExistingRegistration) {
  Answering("SRV01");
  Store(1, kSrv01, 1);
  Store(2, kSrv02, 2);
  Servers servers(MakeContext());
  ASSERT_FALSE(HasValue(kServerListKey, kLastServerIdValue));
  Answering("SRV03");
  std::shared_ptr<Server> added = servers.Add(kSrv03);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->ServerID(), 3);
  EXPECT_EQ(StoredConnectionString(1), kSrv01);
  EXPECT_EQ(StoredConnectionString(2), kSrv02);
  EXPECT_EQ(StoredConnectionString(3), kSrv03);
  EXPECT_EQ(LastServerId(), 3);
}

TEST_F(ServersTest, TheLastIdentifierLeftIsIssuedAndThenAClearErrorComes) {
  Answering("SRV01");
  WriteNumber(registry_, kServerListKey, kLastServerIdValue, 2147483646);
  Servers servers(MakeContext());
  std::shared_ptr<Server> last = servers.Add(kSrv01);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->ServerID(), 2147483647);
  common::Error error = CatchError([&] { servers.Add(kSrv02); });
  EXPECT_EQ(error.number(), kErrOverflow);
  EXPECT_EQ(servers.Count(), 1);
}

TEST_F(ServersTest, ARegistryFailureReachesTheCallerAndListsNothing) {
  Answering("SRV01");
  Servers servers(MakeContext());
  platform_.registry.FailOperation(platform::RegistryOperation::kCreateKey,
                                   platform::kErrorAccessDenied);
  common::Error error = CatchError([&] { servers.Add(kSrv01); });
  EXPECT_EQ(error.number(), platform::kRegistryErrorNumber);
  EXPECT_EQ(error.source(), platform::kRegistryErrorSource);
  EXPECT_EQ(error.description(), "Failed to create registry Key: '" + RegistrationKey(1));
  EXPECT_EQ(servers.Count(), 0);
}

TEST_F(ServersTest, HostileConnectionStringsAreStoredExactlyAndFailCleanly) {
  Answering("SRV01");
  Servers servers(MakeContext());
  std::vector<std::string> hostile = {
      "Data Source='SRV01;Password=x'';DROP TABLE y --",  // unterminated quote
      "Provider=SQLOLEDB;Data Source=[x]]; DROP DATABASE y --];Integrated Security=SSPI",
      "garbage without equals",
      "Provider=SQLOLEDB;Data Source=" + std::string(20000, 'A') + ";Integrated Security=SSPI",
  };
  std::int32_t id = 0;
  for (const std::string& text : hostile) {
    ++id;
    EXPECT_EQ(servers.Add(text), nullptr) << text.substr(0, 60);
    EXPECT_EQ(StoredConnectionString(id), text);
  }
  Servers reloaded(MakeContext());
  ASSERT_EQ(reloaded.Count(), static_cast<int>(hostile.size()));
  for (const auto& server : reloaded) {
    EXPECT_FALSE(server->Connected());
    EXPECT_EQ(server->ConnectionString(), hostile[static_cast<size_t>(server->ServerID() - 1)]);
  }
  // The malformed ones say why.
  EXPECT_FALSE(reloaded.Item("1")->Description().empty());
  EXPECT_FALSE(reloaded.Item("3")->Description().empty());
}

std::vector<std::int32_t> PositionsOf(const std::vector<StoredPosition>& entries) {
  std::vector<std::int32_t> positions;
  for (const auto& entry : entries) positions.push_back(entry.position);
  return positions;
}

TEST(SortByPositionTest, SortsAscendingAndKeepsEveryEntry) {
  std::mt19937 random(7);
  for (int size : {0, 1, 2, 3, 5, 16, 97}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<StoredPosition> entries;
      for (int i = 0; i < size; ++i) {
        // Few distinct values, so equal positions are common; some negative.
        entries.push_back({i + 1, static_cast<std::int32_t>(random() % 7) - 1});
      }
      std::vector<StoredPosition> sorted = entries;
      SortByPosition(sorted);
      EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a.position < b.position;
      }));
      auto by_id = [](const auto& a, const auto& b) { return a.server_id < b.server_id; };
      std::sort(sorted.begin(), sorted.end(), by_id);
      EXPECT_EQ(sorted, entries);
    }
  }
}

TEST(SortByPositionTest, LargeAndAdversarialOrdersAreSorted) {
  std::vector<StoredPosition> entries;
  int count = 200000;
  for (int i = 0; i < count; ++i) entries.push_back({i, count - i});
  SortByPosition(entries);
  EXPECT_EQ(entries.front().position, 1);
  EXPECT_EQ(entries.back().position, count);
  // Organ-pipe order puts the largest value under every middle pivot: the partitions are as
  // lopsided as they get, so the recursion must not follow the long side.
  count = 20000;
  entries.clear();
  for (int i = 0; i < count; ++i) entries.push_back({i, i < count / 2 ? i : count - i});
  SortByPosition(entries);
  std::vector<std::int32_t> positions = PositionsOf(entries);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  entries.assign(count, StoredPosition{1, 5});
  SortByPosition(entries);
  EXPECT_EQ(entries.size(), static_cast<size_t>(count));
}

}  // namespace
}  // namespace servers
