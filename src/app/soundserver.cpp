// SPDX-License-Identifier: GPL-3.0-or-later
#include "soundserver.h"

#include <QDeadlineTimer>

#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <memory>

namespace tovrin3 {

namespace {

constexpr int AnswerMilliseconds = 250;

struct MainLoopFree
{
    void operator()(pa_mainloop *loop) const { pa_mainloop_free(loop); }
};
struct ContextUnref
{
    void operator()(pa_context *context) const
    {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

} // namespace

// The same connection Qt makes (the server the environment and client.conf name), without
// autospawning one that Qt would not find either.
bool soundServerAnswers()
{
    const std::unique_ptr<pa_mainloop, MainLoopFree> loop(pa_mainloop_new());
    if (!loop)
        return false;
    const std::unique_ptr<pa_context, ContextUnref> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "tovrin3"));
    if (!context || pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
        return false;
    const QDeadlineTimer deadline(AnswerMilliseconds);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context.get());
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state) || deadline.hasExpired())
            return false;
        if (pa_mainloop_prepare(loop.get(), static_cast<int>(deadline.remainingTime() * 1000)) <
                0 ||
            pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            return false;
    }
}

} // namespace tovrin3
