// SPDX-License-Identifier: GPL-3.0-or-later
#include "tv_fft.h"

#include <fftw3.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include <unistd.h>

struct tv_fft {
    uint32_t size = 0;
    float *in = nullptr;            // N real samples
    fftwf_complex *out = nullptr;   // N/2 + 1 bins
    fftwf_plan plan = nullptr;
};

namespace {

// FFTW's planner keeps global state; only fftwf_execute is thread-safe.
std::mutex &plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

void release(tv_fft *fft)
{
    {
        std::lock_guard lock(plannerMutex());
        if (fft->plan)
            fftwf_destroy_plan(fft->plan);
    }
    fftwf_free(fft->in);
    fftwf_free(fft->out);
    delete fft;
}

} // namespace

extern "C" tv_fft *tv_fft_create(uint32_t size)
{
    if (size < 2 || (size & (size - 1)) != 0)
        return nullptr;
    try {
        auto *fft = new (std::nothrow) tv_fft;
        if (!fft)
            return nullptr;
        fft->size = size;
        fft->in = static_cast<float *>(fftwf_malloc(sizeof(float) * size));
        fft->out = static_cast<fftwf_complex *>(fftwf_malloc(sizeof(fftwf_complex) * (size / 2 + 1)));
        if (fft->in && fft->out) {
            std::lock_guard lock(plannerMutex());
            // MEASURE overwrites the arrays while planning; they hold nothing yet.
            fft->plan = fftwf_plan_dft_r2c_1d(int(size), fft->in, fft->out, FFTW_MEASURE);
        }
        if (!fft->plan) {
            release(fft);
            return nullptr;
        }
        std::memset(fft->in, 0, sizeof(float) * size);
        return fft;
    } catch (...) {
        return nullptr;
    }
}

extern "C" void tv_fft_destroy(tv_fft *fft)
{
    if (fft)
        release(fft);
}

extern "C" int tv_fft_load_wisdom(const char *path)
{
    if (!path)
        return 0;
    std::lock_guard lock(plannerMutex());
    return fftwf_import_wisdom_from_filename(path) != 0 ? 1 : 0;
}

extern "C" int tv_fft_save_wisdom(const char *path)
{
    if (!path)
        return 0;
    try {
        const std::string temporary = std::string(path) + ".tmp" + std::to_string(::getpid());
        std::lock_guard lock(plannerMutex());
        if (fftwf_export_wisdom_to_filename(temporary.c_str()) == 0) {
            std::remove(temporary.c_str());
            return 0;
        }
        if (std::rename(temporary.c_str(), path) != 0) {
            std::remove(temporary.c_str());
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" void tv_fft_forward(tv_fft *fft, const float *input, float *out_real, float *out_imag)
{
    if (!fft || !input || !out_real || !out_imag)
        return;
    const uint32_t n = fft->size;
    const uint32_t half = n / 2;
    std::memcpy(fft->in, input, sizeof(float) * n);
    fftwf_execute(fft->plan);
    for (uint32_t k = 0; k < half; ++k) {
        out_real[k] = fft->out[k][0];
        out_imag[k] = fft->out[k][1];
    }
    out_imag[0] = fft->out[half][0];
}
