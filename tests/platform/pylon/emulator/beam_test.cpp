// The beam the emulated cameras show: position, width, binning, exposure, noise, and its
// controls through the emulator.
#include "GrabFixture.h"

#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include <pylon/emulator/TestPattern.h>

#include "emulator/FramePattern.h"

using namespace Pylon;
using pylon_test::GrabTest;

namespace {

struct Moments {
    double sum = 0, cx = 0, cy = 0, sx = 0, sy = 0;
};

// Moments of a Mono8 frame above `floor`.
Moments MomentsOf(const std::vector<uint8_t>& p, uint32_t w, uint32_t h, double floor = 0)
{
    Moments m;
    double sxx = 0, syy = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double v = std::max(0.0, p[y * w + x] - floor);
            m.sum += v;
            m.cx += v * x;
            m.cy += v * y;
            sxx += v * x * x;
            syy += v * y * y;
        }
    m.cx /= m.sum;
    m.cy /= m.sum;
    m.sx = std::sqrt(sxx / m.sum - m.cx * m.cx);
    m.sy = std::sqrt(syy / m.sum - m.cy * m.cy);
    return m;
}

std::vector<uint8_t> BeamFrame(const Emulator::PatternKey& key, const Emulator::BeamSettings& beam, uint64_t number = 1)
{
    Emulator::CBeamPattern pattern;
    pattern.Prepare(key, beam);
    std::vector<uint8_t> frame(pattern.FrameSize());
    EXPECT_EQ(pattern.Write(number, frame.data(), frame.size()), frame.size());
    return frame;
}

Emulator::PatternKey Key(EPixelType type, uint32_t w, uint32_t h)
{
    Emulator::PatternKey key;
    key.type = type;
    key.width = w;
    key.height = h;
    return key;
}

Emulator::BeamSettings Beam(double x, double y, double sx, double sy, bool noise = false)
{
    Emulator::BeamSettings b;
    b.x = x, b.y = y, b.sigmaX = sx, b.sigmaY = sy;
    b.intensity = 0.8;
    b.background = 0;
    b.noise = noise;
    return b;
}

TEST(BeamPattern, SpotSitsWhereTheBeamIsWithItsWidth)
{
    const auto frame = BeamFrame(Key(PixelType_Mono8, 200, 150), Beam(80.3, 61.7, 9, 6));
    const Moments m = MomentsOf(frame, 200, 150);
    EXPECT_NEAR(m.cx, 80.3, 0.05);
    EXPECT_NEAR(m.cy, 61.7, 0.05);
    EXPECT_NEAR(m.sx, 9, 0.1);
    EXPECT_NEAR(m.sy, 6, 0.1);
    EXPECT_NEAR(*std::max_element(frame.begin(), frame.end()), 0.8 * 255, 2);
    EXPECT_EQ(frame[0], 0) << "a dark background far from the spot";
}

TEST(BeamPattern, RegionAndBinningCutTheSameSensorImage)
{
    // A region at offset (40, 30) of a 2x2-binned sensor: image pixel i covers sensor pixels
    // 2 * (40 + i) and the next one.
    Emulator::PatternKey key = Key(PixelType_Mono8, 100, 80);
    key.offsetX = 40;
    key.offsetY = 30;
    key.binningH = key.binningV = 2;
    const auto frame = BeamFrame(key, Beam(170, 130, 12, 10));
    const Moments m = MomentsOf(frame, 100, 80);
    EXPECT_NEAR((40 + m.cx) * 2 + 0.5, 170, 0.1);
    EXPECT_NEAR((30 + m.cy) * 2 + 0.5, 130, 0.1);
}

TEST(BeamPattern, ExposureScalesTheIntensityAndFullScaleClips)
{
    Emulator::PatternKey key = Key(PixelType_Mono12, 64, 64);
    key.brightness = 500;
    auto peak = [](const std::vector<uint8_t>& f) {
        uint16_t best = 0;
        for (size_t i = 0; i + 1 < f.size(); i += 2)
            best = std::max<uint16_t>(best, static_cast<uint16_t>(f[i] | f[i + 1] << 8));
        return best;
    };
    EXPECT_NEAR(peak(BeamFrame(key, Beam(32, 32, 5, 5))), 0.4 * 4095, 2);
    key.brightness = 4000;
    EXPECT_EQ(peak(BeamFrame(key, Beam(32, 32, 5, 5))), 4095);
}

TEST(BeamPattern, NoiseChangesEveryFrameAroundTheCleanImage)
{
    const auto key = Key(PixelType_Mono16, 256, 128);
    Emulator::BeamSettings beam = Beam(128, 64, 20, 15, true);
    beam.background = 0.05;
    const auto a = BeamFrame(key, beam, 1), b = BeamFrame(key, beam, 2);
    beam.noise = false;
    const auto clean = BeamFrame(key, beam, 1);
    EXPECT_NE(a, b);
    // Background: read noise alone, 0.3 % of full scale, and its own shot noise.
    double sum = 0, sq = 0;
    const size_t n = 256 * 10;
    for (size_t i = 0; i < n; ++i) {
        const double v = (a[2 * i] | a[2 * i + 1] << 8) - double(clean[2 * i] | clean[2 * i + 1] << 8);
        sum += v;
        sq += v * v;
    }
    const double sigma = std::sqrt(sq / n);
    const double expected = std::sqrt(std::pow(0.003 * 65535, 2) + 0.0001 * 65535 * 0.05 * 65535);
    EXPECT_NEAR(sum / n, 0, 0.1 * expected);
    EXPECT_NEAR(sigma, expected, 0.1 * expected);
}

TEST(BeamPattern, EveryFormatTheEmulatorSendsHasTheBeam)
{
    int formats = 0;
    for (const auto& info : kPixelFormatTable) {
        if (!Emulator::IsPatternSupported(info.type))
            continue;
        SCOPED_TRACE(std::string(info.name));
        ++formats;
        const auto frame = BeamFrame(Key(info.type, 72, 10), Beam(36, 5, 8, 3, true));
        EXPECT_EQ(frame.size(), ComputeBufferSize(info.type, 72, 10));
        EXPECT_TRUE(std::any_of(frame.begin(), frame.end(), [](uint8_t v) { return v != 0; }));
    }
    EXPECT_GE(formats, 40);
}

class BeamCamera : public GrabTest {
protected:
    std::vector<uint8_t> GrabOne()
    {
        camera->AcquisitionMode.SetValue(AcquisitionMode_SingleFrame);
        camera->AcquisitionStart.Execute();
        GrabResult r;
        EXPECT_TRUE(Next(r));
        EXPECT_EQ(r.Status(), Grabbed);
        const auto* p = static_cast<const uint8_t*>(r.Buffer());
        std::vector<uint8_t> frame(p, p + r.GetPayloadSize());
        grabber.QueueBuffer(r.Handle());
        return frame;
    }

    void OpenBeamCamera()
    {
        Emulator::CameraConfig config;
        config.serialNumber = kSerial;
        config.model = "mono_area_1280x1024.xml";
        Emulator::Instance().Plug(config);
        camera = std::make_unique<Camera_t>(CTlFactory::GetInstance().CreateDevice(InfoOf(kSerial)));
        camera->Open();
    }

    Emulator::CameraState State()
    {
        for (const auto& s : Emulator::Instance().List())
            if (s.config.serialNumber == kSerial)
                return s;
        ADD_FAILURE() << "camera not listed";
        return {};
    }
};

TEST_F(BeamCamera, ShowsTheBeamByDefaultAndFollowsItsControls)
{
    OpenBeamCamera();
    const auto state = State();
    EXPECT_EQ(state.config.pattern, Emulator::EPattern::Beam);
    EXPECT_DOUBLE_EQ(state.config.beam.x, 639.5);
    EXPECT_DOUBLE_EQ(state.config.beam.y, 511.5);
    EXPECT_DOUBLE_EQ(state.config.beam.sigmaX, 80);

    camera->Width = 320;
    camera->Height = 240;
    camera->PixelFormat = PixelFormat_Mono8;
    PrepareGrab(2);
    ASSERT_TRUE(Emulator::Instance().SetBeam(kSerial, Beam(100.5, 70.25, 10, 8)));
    Moments m = MomentsOf(GrabOne(), 320, 240);
    EXPECT_NEAR(m.cx, 100.5, 0.05);
    EXPECT_NEAR(m.cy, 70.25, 0.05);

    // The counter pattern on request, the beam again after it.
    ASSERT_TRUE(Emulator::Instance().SetPattern(kSerial, Emulator::EPattern::Counter));
    const auto counter = GrabOne();
    EXPECT_TRUE(Emulator::DecodeFrameNumber(counter.data(), counter.size(), PixelType_Mono8, 320).has_value());
    ASSERT_TRUE(Emulator::Instance().SetPattern(kSerial, Emulator::EPattern::Beam));
    m = MomentsOf(GrabOne(), 320, 240);
    EXPECT_NEAR(m.cx, 100.5, 0.05);
}

TEST_F(BeamCamera, RefusesABeamOutOfRangeAndKeepsItAcrossAPowerCycle)
{
    OpenBeamCamera();
    try {
        Emulator::Instance().SetBeam(kSerial, Beam(1280, 10, 5, 5));
        ADD_FAILURE() << "x outside the sensor accepted";
    } catch (const GenICam::InvalidArgumentException& e) {
        EXPECT_NE(std::string(e.GetDescription()).find("x 1280 refused: 0 to 1279"), std::string::npos)
            << e.GetDescription();
    }
    EXPECT_THROW(Emulator::Instance().SetBeam(kSerial, Beam(10, 10, 0.1, 5)), GenICam::InvalidArgumentException);
    Emulator::BeamSettings dim = Beam(10, 10, 5, 5);
    dim.intensity = -1;
    EXPECT_THROW(Emulator::Instance().SetBeam(kSerial, dim), GenICam::InvalidArgumentException);
    EXPECT_FALSE(Emulator::Instance().SetBeam("no-such-camera", Beam(10, 10, 5, 5)));

    ASSERT_TRUE(Emulator::Instance().SetBeam(kSerial, Beam(10, 20, 3, 4)));
    camera.reset();
    ASSERT_TRUE(Emulator::Instance().Replug(kSerial));
    EXPECT_EQ(State().config.beam, Beam(10, 20, 3, 4));
}

} // namespace
