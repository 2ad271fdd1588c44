// The analysis must round every product and every sum on its own: a fused multiply-add rounds
// once where the code says twice, and a compiler that contracts (aarch64 does by default, and so
// does x86-64 under -mfma or -march=native) would give other last bits than the golden files
// hold. This reads how the build compiled each source.
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

// The value of the last -ffp-contract= in a compile command ("" when there is none).
std::string fp_contract_of(const std::string& command)
{
    const std::string flag = "-ffp-contract=";
    const std::size_t at = command.rfind(flag);
    if (at == std::string::npos) return "";
    const std::size_t begin = at + flag.size();
    return command.substr(begin, command.find(' ', begin) - begin);
}

}  // namespace

TEST(BuildFlags, AnalysisAndRendererCompiledWithoutContraction)
{
    std::ifstream in(std::string(PALLET_BUILD_DIR) + "/compile_commands.json");
    ASSERT_TRUE(in.good()) << "the build writes compile_commands.json (CMAKE_EXPORT_COMPILE_COMMANDS)";
    const nlohmann::json commands = nlohmann::json::parse(in);
    int checked = 0;
    for (const nlohmann::json& entry : commands) {
        const std::string file = entry.at("file").get<std::string>();
        if (file.find("/src/analysis/") == std::string::npos && file.find("/sim/") == std::string::npos) {
            continue;
        }
        const std::string command = entry.at("command").get<std::string>();
        EXPECT_EQ(fp_contract_of(command), "off") << file;
        EXPECT_EQ(command.find("-ffast-math"), std::string::npos) << file;
        EXPECT_EQ(command.find("-Ofast"), std::string::npos) << file;
        ++checked;
    }
    EXPECT_GE(checked, 10);  // every source of the analysis and the renderer was seen
}
