# No edid.bin in the current directory: the run stops after clearing, exit -1.
run_case() {
    PREFIX_NAME=win10
    install_driver
    use_scenario one_gpu.txt
    run_tool
    expect_stdout edid_missing.txt
    expect_exit 255
    expect_trace "SetEDID 0 0x80000000 0"
    expect_no_trace "SetEDID 0 0x1 256"
    # Positive control of the no-wait check: this run waits for its key.
    run_tool_holding_input 8
    expect_exit 124
}
