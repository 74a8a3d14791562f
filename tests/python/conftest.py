"""pytest runs these tests on the qkxdr package that PYTHONPATH names (the
build tree's, or an installed one), and QKXDR_TOOL names the qkxdr tool
whose output the module must match."""
