#include <mirva/server/config.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

using mirva::server::ConfigError;
using mirva::server::parse_config;

namespace {

const std::set<int> kCodes{812};

std::string error_of(const std::string& text) {
    try {
        parse_config(text, "test.toml", kCodes);
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(ServerConfig, ReadsServerCamerasAndLocations) {
    auto cfg = parse_config(R"(
[server]
update_period_ms = 250
debug = 5
state_file = "x.state"

[[camera]]
serial = 21000001
model = "mono_area_1280x1024"
ip_address = "127.0.0.11"
pattern = "counter"

[[location]]
name = "CAM1"
type = 812
[location.properties]
SERIAL = 21000001
"FORMAT.OUT" = 2
"FORMAT.OUT.GAMMA" = 0.5
INTERFACE = "127.0.0.1"
)", "test.toml", kCodes);
    EXPECT_EQ(cfg.update_period.count(), 250);
    EXPECT_TRUE(cfg.debug_mask_set);
    EXPECT_EQ(cfg.debug_mask, 5);
    EXPECT_EQ(cfg.state_file, "x.state");
    ASSERT_EQ(cfg.cameras.size(), 1u);
    EXPECT_EQ(cfg.cameras[0].serial, "21000001");
    EXPECT_EQ(cfg.cameras[0].pattern, "counter");
    ASSERT_EQ(cfg.locations.size(), 1u);
    const auto& p = cfg.locations[0].properties;
    EXPECT_EQ(p.at("SERIAL"), "21000001");
    EXPECT_EQ(p.at("FORMAT.OUT"), "2");
    EXPECT_EQ(p.at("FORMAT.OUT.GAMMA"), "0.5");
    EXPECT_EQ(p.at("INTERFACE"), "127.0.0.1");
}

TEST(ServerConfig, ErrorsNameFileLineAndKey) {
    EXPECT_EQ(error_of("[server]\nupdate_period_ms = 1000\ncolour = 3\n"), "test.toml:3: server.colour: unknown key");
    EXPECT_EQ(error_of("[server]\nupdate_period_ms = \"fast\"\n"),
              "test.toml:2: server.update_period_ms: must be an integer");
    EXPECT_EQ(error_of("[[location]]\nname = \"CAM1\"\ntype = 999\n"),
              "test.toml:3: location[0].type: unknown type code 999 (known: 812)");
    EXPECT_EQ(error_of("[[camera]]\nserial = 1\nmodel = \"m\"\npattern = \"stripes\"\n"),
              "test.toml:4: camera[0].pattern: 'stripes' is no pattern (beam or counter)");
    EXPECT_EQ(error_of("[[location]]\nname = \"CAM1\"\ntype = 812\n[[location]]\nname = \"CAM1\"\ntype = 812\n"),
              "test.toml:5: location[1].name: location CAM1 is configured twice");
    EXPECT_EQ(error_of("[server]\nupdate_period_ms = 1\n"),
              "test.toml:2: server.update_period_ms: value 1 is outside 10 ... 60000");
}

TEST(ServerConfig, ImageDirectoryThatIsAFileIsAnError) {
    const std::string file = std::filesystem::temp_directory_path() / ("mirva_config_file_" + std::to_string(::getpid()));
    std::ofstream(file) << "x";
    EXPECT_EQ(error_of("[server]\nimage_directory = \"" + file + "\"\n"),
              "test.toml:2: server.image_directory: \"" + file + "\" is not a directory");
    std::filesystem::remove(file);
    EXPECT_EQ(error_of("[server]\nimage_directory = \"" + std::filesystem::temp_directory_path().string() + "\"\n"),
              "no error");
}

TEST(ServerConfig, DottedPropertyNameWithoutQuotesIsExplained) {
    std::string e = error_of("[[location]]\nname = \"CAM1\"\ntype = 812\n[location.properties]\nFORMAT.OUT = 0\n");
    EXPECT_NE(e.find("location[0].properties.FORMAT: is a table: quote property names"), std::string::npos) << e;
}

TEST(ServerConfig, SyntaxErrorNamesLine) {
    std::string e = error_of("[server]\nupdate_period_ms = = 3\n");
    EXPECT_EQ(e.rfind("test.toml:2: ", 0), 0u) << e;
}

TEST(ServerConfig, MissingFileIsOneClearError) {
    try {
        mirva::server::load_config("/nonexistent/x.toml", kCodes);
        FAIL();
    } catch (const ConfigError& e) {
        EXPECT_STREQ(e.what(), "/nonexistent/x.toml: cannot open the configuration file");
    }
}

TEST(ServerConfig, DemoConfigurationIsValid) {
    auto cfg = mirva::server::load_config(std::string(MIRVA_SOURCE_DIR) + "/examples/demo.toml", kCodes);
    EXPECT_EQ(cfg.locations.size(), 2u);
    EXPECT_EQ(cfg.cameras.size(), 2u);
    EXPECT_EQ(cfg.http.address, "127.0.0.1");
    EXPECT_FALSE(cfg.gige.enabled);  // the demo reaches no camera network
}

TEST(ServerConfig, GigETableIsOffByDefaultAndReadAsWritten) {
    auto off = parse_config("", "test.toml", kCodes);
    EXPECT_FALSE(off.gige.enabled);
    EXPECT_TRUE(off.gige.addresses.empty());
    EXPECT_FALSE(off.gige.discovery);

    auto cfg = parse_config(R"(
[gige]
enabled = true
addresses = ["192.168.10.20", "10.1.2.3"]
discovery = true
interfaces = ["eth1"]
)",
                            "test.toml", kCodes);
    EXPECT_TRUE(cfg.gige.enabled);
    EXPECT_EQ(cfg.gige.addresses, (std::vector<std::string>{"192.168.10.20", "10.1.2.3"}));
    EXPECT_TRUE(cfg.gige.discovery);
    EXPECT_EQ(cfg.gige.interfaces, std::vector<std::string>{"eth1"});
}

TEST(ServerConfig, GigEErrorsNameTheValue) {
    EXPECT_EQ(error_of("[gige]\naddresses = [\"camera-1\"]\n"),
              "test.toml:2: gige.addresses[0]: 'camera-1' is not an IPv4 address (dotted quad, e.g. 192.168.10.20)");
    EXPECT_EQ(error_of("[gige]\naddresses = \"10.1.2.3\"\n"),
              "test.toml:2: gige.addresses: must be an array of texts, e.g. [\"a\", \"b\"]");
    // Discovery never broadcasts on every interface: it needs them named.
    EXPECT_NE(error_of("[gige]\nenabled = true\ndiscovery = true\n").find("gige.discovery: discovery needs the interfaces"),
              std::string::npos);
    EXPECT_NE(error_of("[gige]\nbroadcast = true\n").find("gige.broadcast: unknown key"), std::string::npos);
}
