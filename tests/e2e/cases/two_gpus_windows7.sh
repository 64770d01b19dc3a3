# The same run with Wine set to Windows 7 (build 7601): the build test reads the
# registry, and the loader loads by full path from the system directory.
run_case() {
    PREFIX_NAME=win7
    install_driver
    use_scenario two_gpus.txt
    use_edid sample_edid.bin
    run_tool
    expect_stdout two_gpus.txt
    expect_exit 0
    expect_trace "SetEDID 1 0x4 256"
}
