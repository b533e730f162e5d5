// SPDX-License-Identifier: GPL-3.0-or-later
#include "tv_fft.h"

#include <tv_handles.h>
#include <gtest/gtest.h>

#include "../../TonvelCore/tests/ToneSignals.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

tv::FftPtr make(uint32_t n) { return tv::FftPtr(tv_fft_create(n)); }

struct Spectrum {
    std::vector<float> re, im;
};

Spectrum forward(tv_fft *fft, uint32_t n, const float *input)
{
    Spectrum s{std::vector<float>(n / 2, -99.f), std::vector<float>(n / 2, -99.f)};
    tv_fft_forward(fft, input, s.re.data(), s.im.data());
    return s;
}

std::vector<float> noise(uint32_t n) { return tonesignals::whiteNoise(n, 1.0, 1.0); }

TEST(TvFft, accepts_only_powers_of_two_from_two_and_null_arguments_do_nothing)
{
    for (uint32_t bad : {0u, 1u, 3000u})
        EXPECT_EQ(tv_fft_create(bad), nullptr) << bad;
    EXPECT_NE(make(2).get(), nullptr);
    auto fft = make(8);
    std::vector<float> in(8, 1.f), re(4, 7.f), im(4, 7.f);
    tv_fft_forward(nullptr, in.data(), re.data(), im.data());
    tv_fft_forward(fft.get(), nullptr, re.data(), im.data());
    tv_fft_forward(fft.get(), in.data(), nullptr, im.data());
    tv_fft_forward(fft.get(), in.data(), re.data(), nullptr);
    EXPECT_EQ(re[0], 7.f);
    EXPECT_EQ(im[0], 7.f);
    tv_fft_destroy(nullptr);
}

// Sign, scale and layout (Nyquist in imag[0]) against X[k] = sum x[t] e^(-2 pi i k t / n).
TEST(TvFft, matches_the_direct_transform_in_sign_scale_and_layout)
{
    for (uint32_t n : {2u, 64u, 4096u}) {
        const auto in = noise(n);
        auto fft = make(n);
        const Spectrum s = forward(fft.get(), n, in.data());
        for (uint32_t k = 0; k <= n / 2; ++k) {
            double re = 0, im = 0;
            for (uint32_t t = 0; t < n; ++t) {
                const double w = 2 * std::numbers::pi * double(uint64_t(k) * t % n) / n;
                re += in[t] * std::cos(w);
                im -= in[t] * std::sin(w);
            }
            ASSERT_NEAR(k == n / 2 ? s.im[0] : s.re[k], re, 1e-3) << n << " bin " << k;
            if (k > 0 && k < n / 2) {
                ASSERT_NEAR(s.im[k], im, 1e-3) << n << " bin " << k;
            }
        }
    }
}

// Handles planned and used on several threads at once give what one handle gives alone (the
// planner is shared process-wide; the thread-sanitizer build sees any unserialised use).
TEST(TvFft, handles_on_several_threads_are_independent)
{
    const auto in = noise(8192);
    std::vector<Spectrum> got(4);
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const uint32_t n = 1024u << t;
            auto fft = make(n);
            for (int round = 0; round < 20 && fft; ++round)
                got[t] = forward(fft.get(), n, in.data());
        });
    for (auto &th : threads)
        th.join();
    for (uint32_t t = 0; t < 4; ++t) {
        const uint32_t n = 1024u << t;
        auto alone = make(n);
        const Spectrum expect = forward(alone.get(), n, in.data());
        ASSERT_EQ(got[t].re.size(), n / 2) << n;
        for (uint32_t k = 0; k < n / 2; ++k) {
            ASSERT_NEAR(got[t].re[k], expect.re[k], 1e-3) << n << " bin " << k;
            ASSERT_NEAR(got[t].im[k], expect.im[k], 1e-3) << n << " bin " << k;
        }
    }
}

// Wisdom survives a round trip through a file written in one piece; a missing or foreign file
// is refused and planning goes on as before.
TEST(TvFft, wisdom_round_trips_and_bad_files_are_ignored)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tvfft-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string saved = (dir / "wisdom").string(), garbage = (dir / "garbage").string();
    ASSERT_TRUE(make(1024));
    EXPECT_EQ(tv_fft_save_wisdom(saved.c_str()), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1); // no temporary left
    EXPECT_EQ(tv_fft_load_wisdom(saved.c_str()), 1);
    std::ofstream(garbage) << "(not wisdom";
    for (const std::string &bad : {garbage, (dir / "missing").string()})
        EXPECT_EQ(tv_fft_load_wisdom(bad.c_str()), 0) << bad;
    EXPECT_EQ(tv_fft_save_wisdom((dir / "missing-dir" / "w").string().c_str()), 0);
    EXPECT_TRUE(make(2048));
    EXPECT_EQ(tv_fft_load_wisdom(nullptr) + tv_fft_save_wisdom(nullptr), 0);
    std::filesystem::remove_all(dir);
}

} // namespace
