// What the daemon sees of its VM: a property handed on by the host and the VM's own
// maximum heap flag (not Runtime.maxMemory, which depends on the collector).
package com.quenlor.brask;

import java.lang.management.ManagementFactory;
import javax.management.MBeanServer;
import javax.management.ObjectName;
import javax.management.openmbean.CompositeData;

public class Report {
    public static void print() throws Exception {
        System.err.println("property QUERY_STRING=" + System.getProperty("QUERY_STRING"));
        System.err.println("property java.compiler=" + System.getProperty("java.compiler"));
        System.err.println("property java.class.path=" + System.getProperty("java.class.path"));
        MBeanServer server = ManagementFactory.getPlatformMBeanServer();
        ObjectName name = new ObjectName("com.sun.management:type=HotSpotDiagnostic");
        Object[] arguments = {"MaxHeapSize"};
        String[] signature = {"java.lang.String"};
        CompositeData option = (CompositeData) server.invoke(name, "getVMOption", arguments,
                signature);
        System.err.println("flag MaxHeapSize=" + option.get("value"));
        System.err.println("non-ASCII: \u00e9t\u00e9");
    }
}
