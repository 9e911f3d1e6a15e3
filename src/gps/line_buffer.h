// A fixed buffer that collects a byte stream and hands it out line by line: the
// daemon's own, so that no line is held where poll cannot see it, and a line that
// never ends cannot grow without bound.
#pragma once

#include <cstddef>
#include <cstring>

template <std::size_t N> class LineBuffer {
  public:
    // Where the next bytes go, after moving what is left to the front.
    char* pc_Free() {
        if (u32_Start > 0) {
            std::memmove(acn_Bytes, acn_Bytes + u32_Start, u32_End - u32_Start);
            u32_End -= u32_Start;
            u32_Start = 0;
        }
        return acn_Bytes + u32_End;
    }
    std::size_t u32_FreeSize() const { return N - u32_End; }
    void v_Filled(std::size_t u32_Count) { u32_End += u32_Count; }

    bool b_HasLine() const { return pc_LineEnd() != nullptr; }
    // Full, and no line in it: a line longer than the buffer.
    bool b_Stuck() const { return u32_Start == 0 && u32_End == N && !b_HasLine(); }

    // The next whole line without its LF, terminated; valid until the next call.
    // Null when no whole line has come yet.
    char* pc_TakeLine() {
        const char* pc_End = pc_LineEnd();
        if (pc_End == nullptr) {
            return nullptr;
        }
        const auto u32_Lf = static_cast<std::size_t>(pc_End - acn_Bytes);
        char* pc_Line = acn_Bytes + u32_Start;
        acn_Bytes[u32_Lf] = '\0';
        u32_Start = u32_Lf + 1;
        return pc_Line;
    }

    void v_Clear() { u32_Start = u32_End = 0; }

  private:
    const char* pc_LineEnd() const {
        return static_cast<const char*>(
            std::memchr(acn_Bytes + u32_Start, '\n', u32_End - u32_Start));
    }

    char acn_Bytes[N];
    std::size_t u32_Start = 0; // the first byte not taken yet
    std::size_t u32_End = 0;   // one past the last byte received
};
