# One line per benchmark program: zorvik_benchmark(NAME <name> DEPS <libraries>)
