#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

namespace {

// The documents app/ will print: a string, whole and fractional numbers, nested arrays.
nlohmann::json sampleDocument() {
    return {
        {"board", "Halvorn RTX"},
        {"gpu", 1},
        {"volts", 1.0125},
        {"rails", nlohmann::json::array({nlohmann::json::array({"core", -25}), nlohmann::json::array({"memory", 12})})},
    };
}

TEST(JsonLibraryTest, DumpsInKeyOrderAndParsesBackToTheSameDocument) {
    const nlohmann::json document = sampleDocument();

    // Keys sorted and the shortest exact decimal, with a point whatever the locale: the text is stable.
    const std::string text = document.dump();
    EXPECT_EQ(text, R"({"board":"Halvorn RTX","gpu":1,"rails":[["core",-25],["memory",12]],"volts":1.0125})");

    for (const std::string& dumped : {text, document.dump(2)}) {
        const nlohmann::json parsed = nlohmann::json::parse(dumped);
        EXPECT_EQ(parsed, document) << dumped;
        EXPECT_EQ(parsed.at("board").get<std::string>(), "Halvorn RTX");
        EXPECT_EQ(parsed.at("gpu").get<int>(), 1);
        EXPECT_DOUBLE_EQ(parsed.at("volts").get<double>(), 1.0125);
        EXPECT_EQ(parsed.at("rails").at(0).at(1).get<int>(), -25);
        EXPECT_EQ(parsed.at("rails").at(1).at(0).get<std::string>(), "memory");
    }
}

}  // namespace
