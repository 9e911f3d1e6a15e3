// HELLO answers to WhoIsThere, at most about ten a second: a difference from the
// design, which answers each one, so that a local user who floods WhoIsThere cannot
// make the daemon broadcast as fast as the user asks. A bucket of ten HELLOs refills
// at ten a second, so within the cap each WhoIsThere still gets its own HELLO. A
// WhoIsThere that finds it empty is answered by the next HELLO, which is then owed and
// goes out as soon as the bucket allows: every asker sees a HELLO after its question.
#pragma once

struct T_HelloPace {
    static constexpr double kBurst = 10.0; // HELLOs at once
    static constexpr double kRate = 10.0;  // HELLOs a second after that

    double f64_Tokens = kBurst;
    double f64_Last = 0; // CLOCK_BOOTTIME seconds of the last refill
    bool b_Owed = false; // a WhoIsThere waits for the next HELLO
};

// A WhoIsThere at f64_Now: true when a HELLO goes out for it now.
bool b_HelloPace_Ask(T_HelloPace* pt_Pace, double f64_Now);

// At a pass: true when the owed HELLO goes out now.
bool b_HelloPace_Take(T_HelloPace* pt_Pace, double f64_Now);

// When the owed HELLO may go out; infinite when none is owed.
double f64_HelloPace_Due(const T_HelloPace& t_Pace);
