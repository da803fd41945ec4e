# One line per fuzz target: zorvik_fuzz_target(NAME <name> DEPS <libraries>)
