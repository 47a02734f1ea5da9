# bench_xfile compares our .x reader with Assimp's importer in the same run.
duo_link_assimp(bench_xfile)
