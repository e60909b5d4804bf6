// The generated FillUnserved puts a function in every slot of every table the host's record
// table lists, nested tables included; the slots are read from host_api/records.tsv itself.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "standins/host_simulator/host_tables.h"

namespace {

struct Field {
    std::string name;
    size_t offset;
    std::string type;
};

std::map<std::string, std::vector<Field>> RecordFields() {
    std::map<std::string, std::vector<Field>> records;
    std::ifstream table(PYRIX_HOST_RECORDS);
    std::string line;
    while (std::getline(table, line)) {
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
        if (line.empty() || line[0] == '#' || cells.size() != 5 || cells[1] == "-") continue;
        records[cells[0]].push_back(Field{cells[1], std::stoul(cells[2]), cells[4]});
    }
    return records;
}

using Filled = std::function<std::vector<unsigned char>()>;

template <typename Table>
Filled FillOf() {
    return [] {
        Table table{};
        host_abi::FillUnserved(table);
        std::vector<unsigned char> bytes(sizeof(table));
        std::memcpy(bytes.data(), &table, sizeof(table));
        return bytes;
    };
}

// Counts the slots of `record` at `offset` in `bytes` and adds the empty ones to `empty`.
int CountSlots(const std::map<std::string, std::vector<Field>>& records, const std::string& record,
               const std::vector<unsigned char>& bytes, size_t offset,
               std::vector<std::string>& empty) {
    int slots = 0;
    for (const Field& field : records.at(record)) {
        if (field.type.find("(*)") != std::string::npos) {
            void* slot = nullptr;
            const size_t at = offset + field.offset;
            if (at + sizeof(slot) <= bytes.size()) std::memcpy(&slot, &bytes[at], sizeof(slot));
            ++slots;
            if (slot == nullptr) empty.push_back(record + "." + field.name);
        } else if (records.count(field.type) != 0) {
            slots += CountSlots(records, field.type, bytes, offset + field.offset, empty);
        }
    }
    return slots;
}

TEST(FillUnserved, FillsEverySlotOfEveryTable) {
    const std::map<std::string, Filled> fills = {
#define TABLE(Type) {#Type, FillOf<Type>()}
        TABLE(PF_InteractCallbacks),  TABLE(PF_EventCallbacks),
        TABLE(PF_ANSICallbacksBlock), TABLE(PF_ColorCallbacks),
        TABLE(PF_UtilCallbacks),      TABLE(SPBasicSuite),
        TABLE(PF_PreRenderCallbacks), TABLE(PF_SmartRenderCallbacks),
        TABLE(PF_EffectUISuite1),     TABLE(PF_EffectCustomUISuite2),
        TABLE(DRAWBOT_DrawbotSuite1), TABLE(DRAWBOT_SupplierSuite1),
        TABLE(DRAWBOT_SurfaceSuite1), TABLE(PFAppSuite6),
        TABLE(PF_GPUDeviceSuite1),
#undef TABLE
    };
    const std::map<std::string, std::vector<Field>> records = RecordFields();
    int tables = 0;
    for (const auto& [record, fields] : records) {
        bool isTable = false;
        for (const Field& field : fields) isTable |= field.type.find("(*)") != std::string::npos;
        if (!isTable) continue;
        ++tables;
        ASSERT_EQ(fills.count(record), 1u) << record << " is a table this test does not fill";
        std::vector<std::string> empty;
        const int slots = CountSlots(records, record, fills.at(record)(), 0, empty);
        EXPECT_GT(slots, 0);
        EXPECT_EQ(empty, std::vector<std::string>{}) << "of " << slots << " slots";
    }
    EXPECT_EQ(tables, int(fills.size()));
}

}  // namespace
