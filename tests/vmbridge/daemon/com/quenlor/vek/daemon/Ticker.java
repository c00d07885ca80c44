// A daemon thread that keeps printing after main has returned.
package com.quenlor.vek.daemon;

public class Ticker extends Thread {
    private final long intervalMillis;

    public Ticker(long intervalMillis) {
        this.intervalMillis = intervalMillis;
    }

    public void run() {
        for (int n = 1;; ++n) {
            System.err.println("daemon tick " + n + " from " + getName());
            try {
                Thread.sleep(intervalMillis);
            } catch (InterruptedException e) {
                return;
            }
        }
    }
}
