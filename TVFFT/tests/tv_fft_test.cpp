// SPDX-License-Identifier: GPL-3.0-or-later
#include "tv_fft.h"

#include <tv_handles.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <thread>
#include <vector>

namespace {


tv::FftPtr make(uint32_t n) { return tv::FftPtr(tv_fft_create(n)); }

struct Spectrum {
    std::vector<float> re, im;
};

Spectrum forward(uint32_t n, const std::vector<float> &input)
{
    auto fft = make(n);
    Spectrum s{std::vector<float>(n / 2, -99.f), std::vector<float>(n / 2, -99.f)};
    tv_fft_forward(fft.get(), input.data(), s.re.data(), s.im.data());
    return s;
}

void expectOnly(const Spectrum &s, float re0, float im0, int binRe = -1, float valueRe = 0.f)
{
    for (size_t k = 0; k < s.re.size(); ++k) {
        float expectRe = (k == 0) ? re0 : (int(k) == binRe ? valueRe : 0.f);
        float expectIm = (k == 0) ? im0 : 0.f;
        EXPECT_NEAR(s.re[k], expectRe, 1e-5) << "re[" << k << "]";
        EXPECT_NEAR(s.im[k], expectIm, 1e-5) << "im[" << k << "]";
    }
}

} // namespace

TEST(TvFft, accepts_only_powers_of_two_from_two)
{
    EXPECT_EQ(tv_fft_create(0), nullptr);
    EXPECT_EQ(tv_fft_create(1), nullptr);
    EXPECT_EQ(tv_fft_create(3000), nullptr);
    EXPECT_NE(make(2).get(), nullptr);
    EXPECT_NE(make(4096).get(), nullptr);
}

TEST(TvFft, null_arguments_do_nothing)
{
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

TEST(TvFft, layout_constant_input_is_dc_only)
{
    expectOnly(forward(8, std::vector<float>(8, 1.f)), 8.f, 0.f);
}

TEST(TvFft, layout_alternating_input_puts_nyquist_in_imag0)
{
    expectOnly(forward(8, {1, -1, 1, -1, 1, -1, 1, -1}), 0.f, 8.f);
}

TEST(TvFft, layout_cosine_of_bin_one_is_unscaled)
{
    std::vector<float> in(8);
    for (int n = 0; n < 8; ++n)
        in[n] = float(std::cos(2 * std::numbers::pi * n / 8));
    expectOnly(forward(8, in), 0.f, 0.f, 1, 4.f);
}

TEST(TvFft, sine_gives_negative_imaginary_part_at_its_bin)
{
    const uint32_t n = 16384;
    std::vector<float> in(n);
    for (uint32_t i = 0; i < n; ++i)
        in[i] = float(std::sin(2 * std::numbers::pi * 100 * i / n));
    auto s = forward(n, in);
    EXPECT_NEAR(s.im[100], -float(n) / 2, 0.5);
    EXPECT_NEAR(s.re[100], 0.f, 0.5);
}

TEST(TvFft, arbitrary_input_matches_direct_transform_in_sign_scale_and_layout)
{
    const uint32_t n = 64;
    std::vector<float> in(n);
    uint32_t seed = 1;
    for (auto &x : in)
        x = float(int32_t(seed = seed * 1664525u + 1013904223u)) / 2147483648.f;
    const auto s = forward(n, in);
    for (uint32_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0; // X[k] = sum in[t] e^(-2 pi i k t / n)
        for (uint32_t t = 0; t < n; ++t) {
            re += in[t] * std::cos(2 * std::numbers::pi * k * t / n);
            im -= in[t] * std::sin(2 * std::numbers::pi * k * t / n);
        }
        EXPECT_NEAR(k == n / 2 ? s.im[0] : s.re[k], re, 1e-4) << k;
        if (k > 0 && k < n / 2) {
            EXPECT_NEAR(s.im[k], im, 1e-4) << k;
        }
    }
}

TEST(TvFft, handles_created_concurrently_are_independent)
{
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            auto fft = make(1024u << t);
            ok[t] = fft != nullptr;
        });
    for (auto &th : threads)
        th.join();
    for (int v : ok)
        EXPECT_EQ(v, 1);
}
