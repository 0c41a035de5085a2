#include "runtime/core/internal/core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

struct Record {
    intptr_t handle; // live while not zero
    intptr_t payload;
};

ObjectRegistry* registry_under_test = nullptr;
std::vector<int64_t> released;
// A number that the next release creates, as a kind's own release may; -1 for none. The heap
// may hand the table it gave back to the next request at once: the release takes it and
// writes over it, so that a reference into the old table shows.
int64_t create_on_release = -1;
void* old_table_reused = nullptr;

Record* Make(int64_t number, intptr_t payload);

// Follows the pattern of every kind's release operation.
void ReleaseRecord(int64_t identity) {
    if (identity == ANY_NUMBER) {
        Objects_ReleaseAll(registry_under_test);
        return;
    }
    if (Objects_Get(registry_under_test, identity)) {
        released.push_back(identity);
        Objects_Remove(registry_under_test, identity);
        if (create_on_release >= 0) {
            const size_t old_table = sizeof(void*) * registry_under_test->capacity;
            Make(std::exchange(create_on_release, -1), 7);
            old_table_reused = Runtime_Alloc(old_table);
            std::memset(old_table_reused, 0xAB, old_table);
        }
    }
}

Record* Make(int64_t number, intptr_t payload) {
    auto* record = static_cast<Record*>(Objects_Create(registry_under_test, number));
    if (record) {
        record->handle = 1;
        record->payload = payload;
    }
    return record;
}

int64_t IdentityOf(Record* record) {
    return reinterpret_cast<int64_t>(record);
}

class ObjectsTest : public testing::Test {
  protected:
    void SetUp() override {
        registry_under_test = Objects_NewRegistry(sizeof(Record), 16, ReleaseRecord);
        released.clear();
    }
    void TearDown() override { Objects_ReleaseAll(registry_under_test); }
};

} // namespace

TEST_F(ObjectsTest, TableGrowsOnDemandAndKeepsNumberedRecords) {
    ASSERT_NE(registry_under_test, nullptr);
    EXPECT_EQ(registry_under_test->capacity, 16);
    Record* zero = Make(0, 10);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(registry_under_test->capacity, 16);
    Record* twenty = Make(20, 20);
    ASSERT_NE(twenty, nullptr);
    EXPECT_EQ(registry_under_test->capacity, 36);
    for (int slot = 16; slot < 36; ++slot) {
        if (slot != 20) {
            EXPECT_EQ(registry_under_test->slots[slot], nullptr) << slot;
        }
    }
    EXPECT_EQ(Objects_Get(registry_under_test, 0), zero);
    EXPECT_EQ(Objects_Get(registry_under_test, 5), nullptr) << "never created";
    EXPECT_EQ(Objects_Get(registry_under_test, 36), nullptr) << "beyond the table";

    // Reusing a live number releases the old object and hands back the same record, zeroed.
    Record* again = static_cast<Record*>(Objects_Create(registry_under_test, 0));
    EXPECT_EQ(again, zero);
    EXPECT_EQ(released, std::vector<int64_t>{0});
    EXPECT_EQ(again->handle, 0);
    EXPECT_EQ(again->payload, 0);
    EXPECT_EQ(Objects_Get(registry_under_test, 0), nullptr) << "a zeroed record is not live";

    // A release that grows the table moves it: the record still comes back.
    Record* first_one = Make(1, 11);
    void* behind_the_table = Runtime_Alloc(1 << 16); // keeps the table from growing in place
    create_on_release = 1000;
    Record* one = static_cast<Record*>(Objects_Create(registry_under_test, 1));
    ASSERT_EQ(registry_under_test->capacity, 1016);
    Runtime_Free(old_table_reused);
    Runtime_Free(behind_the_table);
    ASSERT_EQ(one, first_one);
    EXPECT_EQ(one->payload, 0);

    Objects_Remove(registry_under_test, 20);
    EXPECT_EQ(Objects_Get(registry_under_test, 20), nullptr);
    Record* reused = static_cast<Record*>(Objects_Create(registry_under_test, 20));
    EXPECT_EQ(reused, twenty);
    EXPECT_EQ(reused->payload, 0);
    EXPECT_EQ(released, (std::vector<int64_t>{0, 1})) << "a cleared record is returned as it is";
}

TEST_F(ObjectsTest, AnyNumberRecordsAreNamedByAddress) {
    Record* first = Make(ANY_NUMBER, 1);
    Record* second = Make(ANY_NUMBER, 2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Objects_Get(registry_under_test, IdentityOf(first)), first);
    EXPECT_EQ(registry_under_test->any_list, second) << "newest first";

    // Identities the registry never handed out are refused, never read through.
    EXPECT_EQ(Objects_Get(registry_under_test, -2), nullptr);
    EXPECT_EQ(Objects_Get(registry_under_test, ANY_NUMBER), nullptr);
    EXPECT_EQ(Objects_Get(registry_under_test, 0x12345678), nullptr);
    Objects_Remove(registry_under_test, -7);
    Objects_Remove(registry_under_test, 0x12345678);
    EXPECT_EQ(Objects_Create(registry_under_test, -2), nullptr);
    EXPECT_EQ(Objects_Create(registry_under_test, int64_t{1} << 40), nullptr);

    Objects_Remove(registry_under_test, IdentityOf(first));
    EXPECT_EQ(Objects_Get(registry_under_test, IdentityOf(first)), nullptr);
    EXPECT_EQ(Objects_Get(registry_under_test, IdentityOf(second)), second);
}

TEST_F(ObjectsTest, ReleaseAllGoesByNumberThenNewestAnyNumberFirst) {
    Make(3, 0);
    Make(1, 0);
    Record* older = Make(ANY_NUMBER, 0);
    Record* newer = Make(ANY_NUMBER, 0);
    Objects_ReleaseAll(registry_under_test);
    EXPECT_EQ(released, (std::vector<int64_t>{1, 3, IdentityOf(newer), IdentityOf(older)}));
    EXPECT_EQ(registry_under_test->any_list, nullptr);

    int64_t identity = 0;
    Objects_Rewind(registry_under_test);
    EXPECT_EQ(Objects_Next(registry_under_test, &identity), nullptr);
}

TEST(ObjectsList, AddRemoveAndContains) {
    void* head = nullptr;
    EXPECT_EQ(Objects_ListContains(head, nullptr), nullptr);
    void* a = Objects_ListAdd(&head, 24);
    void* b = Objects_ListAdd(&head, 24);
    void* c = Objects_ListAdd(&head, 24);
    EXPECT_EQ(head, c);
    EXPECT_EQ(Objects_ListNext(c), b);
    EXPECT_EQ(Objects_ListNext(b), a);
    EXPECT_EQ(Objects_ListNext(a), nullptr);
    EXPECT_EQ(Objects_ListContains(head, reinterpret_cast<void*>(0)), nullptr);
    EXPECT_EQ(Objects_ListContains(head, reinterpret_cast<void*>(1)), nullptr);
    EXPECT_EQ(Objects_ListContains(head, b), b);

    Objects_ListRemove(&head, b); // from the middle
    EXPECT_EQ(Objects_ListContains(head, b), nullptr);
    EXPECT_EQ(Objects_ListNext(c), a);
    Objects_ListRemove(&head, c); // the first: the second becomes first
    EXPECT_EQ(head, a);
    EXPECT_EQ(Objects_ListContains(head, c), nullptr);
    Objects_ListAdd(&head, 8);
    Objects_ListRemove(&head, Objects_ListNext(head)); // the last
    EXPECT_EQ(Objects_ListNext(head), nullptr);
    Objects_ListRemove(&head, head); // the only one
    EXPECT_EQ(head, nullptr);
}

TEST(ObjectsState, BlocksAreZeroedAndInitialised) {
    static int initialised = 0;
    auto* block = static_cast<int*>(Objects_NewState(
        64,
        [](void* b) {
            ++initialised;
            static_cast<int*>(b)[1] = 7;
        },
        nullptr));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(initialised, 1);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 7);
    EXPECT_EQ(Objects_State(block), block);
}

TEST_F(ObjectsTest, RandomSequenceMatchesASimpleModel) {
    std::mt19937 random(20261208);
    std::map<int64_t, intptr_t> live; // identity -> payload
    std::set<int64_t> any_identities; // live ANY_NUMBER identities
    intptr_t next_payload = 100;
    const HANDLE heap = Runtime_Heap();
    for (int step = 0; step < 4000; ++step) {
        const int action = static_cast<int>(random() % 10);
        if (action < 4) {
            const bool any = random() % 4 == 0;
            const int64_t number = any ? ANY_NUMBER : static_cast<int64_t>(random() % 70);
            Record* record = Make(number, ++next_payload);
            ASSERT_NE(record, nullptr);
            const int64_t identity = any ? IdentityOf(record) : number;
            live[identity] = next_payload;
            if (any) {
                any_identities.insert(identity);
            }
        } else if (action < 7 && !live.empty()) {
            auto it = live.begin();
            std::advance(it, static_cast<long>(random() % live.size()));
            Objects_Remove(registry_under_test, it->first);
            any_identities.erase(it->first);
            live.erase(it);
        } else if (action < 9) {
            const int64_t number = static_cast<int64_t>(random() % 90);
            auto* record = static_cast<Record*>(Objects_Get(registry_under_test, number));
            auto expected = live.find(number);
            if (expected == live.end()) {
                EXPECT_EQ(record, nullptr) << "step " << step;
            } else {
                ASSERT_NE(record, nullptr) << "step " << step;
                EXPECT_EQ(record->payload, expected->second);
            }
            for (int64_t identity : any_identities) {
                auto* any = static_cast<Record*>(Objects_Get(registry_under_test, identity));
                ASSERT_NE(any, nullptr);
                EXPECT_EQ(any->payload, live[identity]);
            }
        } else if (random() % 20 == 0) {
            released.clear();
            Objects_ReleaseAll(registry_under_test);
            EXPECT_EQ(released.size(), live.size());
            live.clear();
            any_identities.clear();
            EXPECT_EQ(registry_under_test->any_list, nullptr);
        }
    }
    ASSERT_TRUE(HeapValidate(heap, 0, nullptr));
}
