// The test daemon. What it does is chosen by the QUERY_STRING property that the host
// hands on from its environment: "tick" (the default), "throw", "report", "exit", "out",
// "hook" and "slow-hook" (a shutdown hook that holds 300 ms or 60 s). Its stop writes
// stop.out. Compiled to class files of version 45.3: no class literals, no lambdas.
package com.quenlor.vek.daemon;

import com.quenlor.brask.Report;
import com.quenlor.brask.ShutdownWriter;
import com.quenlor.quillet.Failure;

public class Daemon {
    public static void main(String[] args) throws Exception {
        String mode = System.getProperty("QUERY_STRING", "tick");
        System.err.println("Daemon main: " + mode + " on " + System.getProperty("java.vm.name")
                + " " + System.getProperty("java.version"));
        if (mode.equals("throw")) {
            Failure.fail("the daemon gave up on purpose");
        } else if (mode.equals("report")) {
            Report.print();
        } else if (mode.equals("exit")) {
            System.exit(7);
        } else if (mode.equals("hook") || mode.equals("slow-hook")) {
            long hold = mode.equals("hook") ? 300 : 60000;
            Runtime.getRuntime().addShutdownHook(new ShutdownWriter("hook.out", hold));
        } else if (mode.equals("out")) {
            System.out.println("written to System.out: 100% %s %n done");
        } else {
            Ticker ticker = new Ticker(100);
            ticker.setDaemon(true);
            ticker.start();
            Thread.sleep(150);
        }
        System.err.println("Daemon main: returning");
    }

    public static void stop(String[] args) {
        ShutdownWriter.write("stop.out", "stopped\n", false);
    }
}
