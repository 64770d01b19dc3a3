# A 100-byte edid.bin is not written to any output: exit -1.
run_case() {
    PREFIX_NAME=win10
    install_driver
    use_scenario one_gpu.txt
    use_edid short_edid.bin
    run_tool
    expect_stdout edid_short.txt
    expect_exit 255
    expect_trace "SetEDID 0 0x80000000 0"
    expect_no_trace "SetEDID 0 0x1 256"
}
