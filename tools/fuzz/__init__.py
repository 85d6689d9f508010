"""Hostile-input fuzzing of quorvel (run it as tools/fuzz.py; see cli).

    cli         the command line: a timed run, a replay, the summary and the failures
    pool        the child processes: each child's loop, and the parent that hands out
                blocks of cases and records how each child ended
    checks      the checks on one call's outcome, made in the child that makes it
    plant       faults planted on purpose, to see the run fail on each
    signatures  the entry points (from the module and its stub, and the private hooks),
                their parameters' kinds and their results' shapes
    case        one whole case: its arguments in parameter order, how they are passed,
                and the call written down for a reproducer
    generators  the arguments, one kind at a time: sequences, vectors, matrices,
                counts, floats, flags, texts, offsets, strides and sizes of views
    arrays      numpy arrays, array.array, memoryviews and pandas objects
    hostile     objects whose hooks raise, return nonsense or change other arguments,
                and what each hook does
    mutations   the changes a hook makes to a container or another argument
    interludes  Python code run during a call by other ways (a showwarning, a signal
                handler), the caller's floating-point state, and late-code cases
    fpstate     the floating-point control register, read and set as an extension would
    values      plain and odd numbers from the edges of their ranges, and short reprs
    imports     the quorvel build under test, numpy and pandas when importable, and
                tests/agreement.py (when a buffer agrees with its numbers as lists)
"""
