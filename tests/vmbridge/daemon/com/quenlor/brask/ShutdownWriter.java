// A shutdown hook that writes its file in two steps, holdMillis apart: a file with
// both lines is a hook that ran to its end.
package com.quenlor.brask;

import java.io.FileOutputStream;

public class ShutdownWriter extends Thread {
    private final String path;
    private final long holdMillis;

    public ShutdownWriter(String path, long holdMillis) {
        super("daemon shutdown hook");
        this.path = path;
        this.holdMillis = holdMillis;
    }

    public static void write(String path, String text, boolean append) {
        try {
            FileOutputStream out = new FileOutputStream(path, append);
            out.write(text.getBytes("US-ASCII"));
            out.close();
        } catch (Exception e) {
            e.printStackTrace();
        }
    }

    public void run() {
        write(path, "hook began\n", false);
        try {
            Thread.sleep(holdMillis);
            write(path, "hook ended\n", true);
        } catch (InterruptedException e) {
        }
    }
}
